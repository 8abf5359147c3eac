// The libFuzzer executable of one target; TESSARY_FUZZ_ENTRY names its entry function.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/fuzz_targets.h"

// Before the fuzzer installs its signal handlers, so that the program's own are replaced.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return TESSARY_FUZZ_ENTRY(data, size);
}
