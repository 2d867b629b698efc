#include "tests/support/locale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>

// glibc keeps the LOCPATH search list of a locale loaded with newlocale for
// the life of the process; the tests load locales that way.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
#endif

namespace veloran::testing {

bool UseLocale(const std::string& name) {
  static const std::string dir = (std::filesystem::temp_directory_path() / "veloran-locales").string();
  const std::string path = dir + "/" + name;
  if (!std::filesystem::exists(path)) {
    std::filesystem::create_directories(dir);
    const std::string input = name.substr(0, name.find('.'));
    const std::string command = "localedef -i " + input + " -f UTF-8 " + path + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !std::filesystem::exists(path)) return false;
  }
  setenv("LOCPATH", dir.c_str(), 1);
  setenv("LC_ALL", name.c_str(), 1);
  return std::setlocale(LC_ALL, name.c_str()) != nullptr;
}

void RestoreLocale() {
  std::setlocale(LC_ALL, "C");
  unsetenv("LC_ALL");
  unsetenv("LOCPATH");
}

}  // namespace veloran::testing
