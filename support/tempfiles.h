// Temporary files that a fatal signal must not leave behind.
#pragma once

namespace veloran {

// Registers a temporary file's path for removal by the signal handlers;
// returns its slot, or -1 when every slot is taken or the path is too long
// (the file is then still removed on every ordinary path).
int RegisterTempFile(const char* path);
// The file is gone or renamed: the handlers must leave its path alone.
void UnregisterTempFile(int slot);

// Installs handlers for SIGINT, SIGTERM, SIGHUP and SIGXFSZ that remove
// every registered temporary file (with unlink, which is
// async-signal-safe), then end the program with the signal's usual status.
// A signal the program was started with ignored stays ignored.
void InstallTempFileCleanup();

}  // namespace veloran
