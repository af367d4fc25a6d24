// The console dialogue on arbitrary standard-input bytes.
#include <cstdint>
#include <cstdio>

#include "driver/dialogue.h"
#include "driver/fatal.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  std::FILE* in = rivulon::fuzzing::stream_of(data, size);
  if (in == nullptr) return 0;
  rivulon::RunSettings s;
  try {
    rivulon::run_dialogue(in, sink, s);
    // Accepted values are always in their ranges.
    if (s.match < 0 || s.mismatch < 0 || s.gap < 0 || s.terminal_gap < 0) __builtin_trap();
    if (s.match > 1000000 || s.mismatch > 1000000 || s.gap > 1000000 || s.terminal_gap > 1000000) {
      __builtin_trap();
    }
    if (s.max_motif < 1 || s.max_motif > 500 || s.definition < 1 || s.definition > 3) __builtin_trap();
    if (!s.validate().empty()) __builtin_trap();  // the library takes every accepted answer
  } catch (const rivulon::FatalError& e) {
    if (e.status != rivulon::kExitParameter) __builtin_trap();
  }
  std::fclose(in);
  return 0;
}
