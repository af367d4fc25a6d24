// Sequence loading on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/sequence.h"
#include "fuzz_util.h"

// The loader reports invalid input on standard output; keep it out of the fuzzer's log.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = rivulon::fuzzing::stream_of(data, size);
  if (f == nullptr) return 0;
  try {
    rivulon::Sequence seq = rivulon::load_sequence(f);
    if (seq.bases()[seq.n] != '\0') __builtin_trap();
    for (char c : seq.view()) {  // only bases are kept
      if (std::strchr("ACGTacgt", c) == nullptr) __builtin_trap();
    }
  } catch (const rivulon::FatalError& e) {
    if (e.status != rivulon::kExitInvalidSequence) __builtin_trap();
  }
  std::fclose(f);
  return 0;
}
