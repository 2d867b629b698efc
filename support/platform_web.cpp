#include "support/platform.h"

// The browser: one thread, files in memory.
namespace veloran {

unsigned PlatformProcessors() { return 1; }

bool PlatformReserve(int, off_t) { return false; }

void PlatformStartWriteback(int, off_t, off_t) {}

}  // namespace veloran
