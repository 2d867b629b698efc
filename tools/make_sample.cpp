// veloran-make-sample: writes a synthetic SDTS raster transfer.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "samplegen/sample.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr,
                 "Usage: veloran-make-sample DIR [VARIANT [SEED]]\n"
                 "Writes a transfer into DIR and prints its cell module's path.\n"
                 "VARIANT: base (default), float, feet, binsadr, repeat, lower, small.\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string variant = argc > 2 ? argv[2] : "base";
  try {
    const uint64_t seed = argc > 3 ? std::stoull(argv[3]) : 1994;
    mkdir(dir.c_str(), 0777);
    std::printf("%s\n", veloran::testing::WriteTransfer(dir, veloran::testing::MakeSample(variant, seed)).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veloran-make-sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
