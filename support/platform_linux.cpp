#include <fcntl.h>
#include <sched.h>

#include "support/platform.h"

namespace veloran {

unsigned PlatformProcessors() {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set)) : 0;
}

bool PlatformReserve(int fd, off_t bytes) { return ::fallocate(fd, 0, 0, bytes) == 0; }

void PlatformStartWriteback(int fd, off_t from, off_t count) {
  ::sync_file_range(fd, from, count, SYNC_FILE_RANGE_WRITE);
}

}  // namespace veloran
