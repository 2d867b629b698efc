#include "support/threads.h"

#include <sched.h>

#include <thread>

namespace veloran {

unsigned Processors() {
  // The processors this process may run on (taskset, cgroups' cpusets),
  // which can be fewer than the machine has.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return static_cast<unsigned>(CPU_COUNT(&set));
  const unsigned all = std::thread::hardware_concurrency();
  return all > 0 ? all : 1;
}

}  // namespace veloran
