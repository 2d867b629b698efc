// Replays every input the fuzzers found a fault with (kept in tests/fuzz)
// through the same harnesses: each must end in a clean message.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/harness.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

const std::filesystem::path kInputs = VELORAN_SOURCE_DIR "/tests/fuzz";

void Replay(const std::string& folder, void (*harness)(const uint8_t*, size_t)) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kInputs / folder)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    SCOPED_TRACE(entry.path().string());
    const std::string bytes = testing::ReadFileBytes(entry.path().string());
    harness(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  }
  std::cout << "[ replay   ] " << folder << ": " << replayed << " inputs\n";
  EXPECT_GT(replayed, 0) << "no inputs in tests/fuzz/" << folder << ": the replay would prove nothing";
}

TEST(FuzzRegressions, DdfInputs) { Replay("ddf", FuzzDdf); }
TEST(FuzzRegressions, TransferInputs) { Replay("transfer", FuzzTransfer); }

}  // namespace
}  // namespace veloran
