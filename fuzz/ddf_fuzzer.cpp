#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veloran::FuzzDdf(data, size);
  return 0;
}
