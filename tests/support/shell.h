// Runs shell commands for the command-line tests: in a folder, with a fixed
// date and locale, keeping standard output, standard error, the exit status
// (128 + the signal for a killed process).
#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "samplegen/transfer.h"

extern char** environ;

namespace veloran::testing {

inline std::string Q(const std::string& s) { return "'" + s + "'"; }

struct TResult {
  int Status = -1;  // exit status, or 128 + signal
  std::string Out, Err;
};

// Runs `sh -c script` in `dir` with a fixed date; stdout and stderr are kept.
class TShell {
 public:
  explicit TShell(std::string dir) : Dir(std::move(dir)) {}
  pid_t Start(const std::string& script) const {
    const std::string full = "cd '" + Dir + "' && export SOURCE_DATE_EPOCH=1000000000 LC_ALL=C && { " + script +
                             "\n} >'" + Dir + "/.out' 2>'" + Dir + "/.err'";
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    return pid;
  }
  TResult Wait(pid_t pid) const {
    TResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.Out = ReadFileBytes(Dir + "/.out");
    r.Err = ReadFileBytes(Dir + "/.err");
    std::filesystem::remove(Dir + "/.out");
    std::filesystem::remove(Dir + "/.err");
    return r;
  }
  TResult Run(const std::string& script) const { return Wait(Start(script)); }
  std::string Dir;
};

}  // namespace veloran::testing
