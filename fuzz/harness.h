// The fuzzing harnesses, shared by the libFuzzer programs and by the
// regression test that replays the inputs kept in tests/fuzz.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veloran {

// One ISO 8211 file: the reader and every lookup over it.
void FuzzDdf(const uint8_t* data, size_t size);

// A whole conversion of a small transfer in which one module is the input:
// the first byte chooses the module, the rest are its bytes.
void FuzzTransfer(const uint8_t* data, size_t size);

}  // namespace veloran
