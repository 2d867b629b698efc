#include "support/tempfiles.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <initializer_list>

namespace veloran {

namespace {

// The one process-wide table of the program: a signal handler can reach
// nothing else. Slots are claimed with an atomic flag so that conversions
// on several threads can register at once. A file is named by its folder's
// descriptor and its name, so that a path of any length can be removed.
// kCreating: the name is set and the file may be being created; kActive:
// the file exists (or existed).
enum : int { kFree = 0, kClaimed = 1, kCreating = 2, kActive = 3 };
struct TSlot {
  std::atomic<int> State{kFree};
  int DirFd = -1;
  char Name[NAME_MAX + 1] = {};
};
// Constant-initialized (zero pages in .bss): no start-up code touches it.
constinit TSlot Slots[kTempFileSlots];
// Set once a fatal signal is being handled: no temporary file may be
// created from then on.
constinit std::atomic<bool> Dying{false};

extern "C" void RemoveTempFilesAndDie(int signal) {
  RemoveTempFiles();
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered with the default action once the handler returns
}

std::terminate_handler PreviousTerminate = nullptr;

void RemoveTempFilesAndTerminate() {
  RemoveTempFiles();
  if (PreviousTerminate) PreviousTerminate();
  std::abort();
}

}  // namespace

int RegisterTempFile(int dirFd, const char* name) {
  const size_t length = std::strlen(name);
  if (length > NAME_MAX) return -1;
  for (int i = 0; i < kTempFileSlots; ++i) {
    int expected = kFree;
    if (Slots[i].State.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      Slots[i].DirFd = dirFd;
      std::memcpy(Slots[i].Name, name, length + 1);
      Slots[i].State.store(kCreating);
      // Either this sees the handler's flag, or the handler sees this slot.
      if (Dying.load()) {
        Slots[i].State.store(kFree);
        return -1;
      }
      return i;
    }
  }
  return -1;
}

void TempFileCreated(int slot) {
  if (slot >= 0 && slot < kTempFileSlots) Slots[slot].State.store(kActive, std::memory_order_release);
}

void UnregisterTempFile(int slot) {
  if (slot >= 0 && slot < kTempFileSlots) Slots[slot].State.store(kFree, std::memory_order_release);
}

void RemoveTempFiles() {
  Dying.store(true);
  // A file being created on another thread is waited for (a creation takes
  // microseconds; the wait is bounded in case it is this very thread that
  // was interrupted), then removed with the others.
  for (int waited = 0; waited < 200; ++waited) {
    bool creating = false;
    for (const TSlot& slot : Slots) creating = creating || slot.State.load() == kCreating;
    if (!creating) break;
    const timespec millisecond{0, 1000000};
    nanosleep(&millisecond, nullptr);
  }
  for (TSlot& slot : Slots) {
    const int state = slot.State.load(std::memory_order_acquire);
    if (state == kCreating || state == kActive) ::unlinkat(slot.DirFd, slot.Name, 0);
  }
}

void InstallTempFileCleanup() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
  PreviousTerminate = std::set_terminate(RemoveTempFilesAndTerminate);
}

void KeepStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    // The lowest free descriptor is this one.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

}  // namespace veloran
