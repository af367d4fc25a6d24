// A read-only stream over a fuzzer input.
#pragma once
#include <cstdint>
#include <cstdio>

namespace rivulon::fuzzing {

inline std::FILE* stream_of(const uint8_t* data, size_t size) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::rewind(f);
  return f;
}

}  // namespace rivulon::fuzzing
