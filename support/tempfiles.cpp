#include "support/tempfiles.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace veloran {

namespace {

// The one process-wide table of the program: a signal handler can reach
// nothing else. Slots are claimed with an atomic flag so that conversions
// on several threads can register at once.
constexpr int kSlots = 256;
enum : int { kFree = 0, kClaimed = 1, kActive = 2 };
struct TSlot {
  std::atomic<int> State{kFree};
  char Path[PATH_MAX] = {};
};
// Constant-initialized (zero pages in .bss): no start-up code touches it.
constinit TSlot Slots[kSlots];

extern "C" void RemoveTempFilesAndDie(int signal) {
  for (TSlot& slot : Slots)
    if (slot.State.load(std::memory_order_acquire) == kActive) ::unlink(slot.Path);
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered with the default action once the handler returns
}

}  // namespace

int RegisterTempFile(const char* path) {
  const size_t length = std::strlen(path);
  if (length >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (Slots[i].State.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      std::memcpy(Slots[i].Path, path, length + 1);
      Slots[i].State.store(kActive, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void UnregisterTempFile(int slot) {
  if (slot >= 0 && slot < kSlots) Slots[slot].State.store(kFree, std::memory_order_release);
}

void InstallTempFileCleanup() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace veloran
