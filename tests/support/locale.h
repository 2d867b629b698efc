// Runs a test under a real user locale built for the test (no root needed):
// localedef writes it into a private directory that LOCPATH points to.
#pragma once

#include <string>

namespace veloran::testing {

// Makes `name` (for example "de_DE.UTF-8") the process locale and the
// environment's LC_ALL. Returns false when the locale cannot be built.
bool UseLocale(const std::string& name);
// Back to the "C" locale.
void RestoreLocale();

}  // namespace veloran::testing
