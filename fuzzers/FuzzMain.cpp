// The libFuzzer entry of one target, chosen when the program is built (BEAMDOCK_FUZZ_TARGET).
#include "fuzzers/FuzzSupport.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TFuzzRun run = [] {
    for (size_t i = 0; i < kFuzzTargetCount; ++i)
      if (std::strcmp(kFuzzTargets[i].mName, BEAMDOCK_FUZZ_TARGET) == 0) return kFuzzTargets[i].mRun;
    std::abort();
  }();
  return run(data, size);
}
