// What the core asks of the system beyond POSIX files: one implementation
// a platform, chosen by the build (platform_linux.cpp for the programs,
// platform_web.cpp for the browser's WebAssembly build).
#pragma once

#include <sys/types.h>

namespace veloran {

// The processors this process may run on (taskset, cgroups' cpusets),
// which can be fewer than the machine has; 0 when unknown.
unsigned PlatformProcessors();
// Allocates the file's first `bytes` at once; false where the platform
// cannot (the writes then allocate as they come).
bool PlatformReserve(int fd, off_t bytes);
// Hands what was written from `from` on to the disk now, a hint only.
void PlatformStartWriteback(int fd, off_t from, off_t count);

}  // namespace veloran
