// Temporary files that a fatal signal must not leave behind, and the
// process's start-up guards.
#pragma once

namespace veloran {

// As many temporary files as can exist at once: one per conversion under
// way (the command line runs at most kMaxJobs), and a few for the desktop.
inline constexpr int kMaxJobs = 1024;
inline constexpr int kTempFileSlots = kMaxJobs + 16;

// Registers the temporary file `name` in the folder open as `dirFd` for
// removal by the signal handlers, before the file is created; returns its
// slot, or -1 when every slot is taken, the name is longer than a file
// name can be, or a fatal signal is being handled: the file must then not
// be created. TempFileCreated tells when it exists.
int RegisterTempFile(int dirFd, const char* name);
// The file registered in `slot` has been created.
void TempFileCreated(int slot);
// The file is gone or renamed: the handlers must leave its name alone.
void UnregisterTempFile(int slot);
// Removes every registered temporary file now, and lets no other be
// created (async-signal-safe).
void RemoveTempFiles();

// Installs handlers for SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ that
// remove every registered temporary file (with unlinkat, which is
// async-signal-safe), then end the program with the signal's usual status;
// a terminate handler does the same before aborting. A signal the program
// was started with ignored stays ignored.
void InstallTempFileCleanup();

// Opens /dev/null on descriptors 0, 1 and 2 where they are closed, so that
// no file opened later takes their place and receives what is meant for
// standard output.
void KeepStandardDescriptors();

}  // namespace veloran
