// Finding the next marked position in a table of non-negative floats (the
// similarity table of definition 1, the marks of definition 2).
#pragma once
#include <cstdint>
#include <cstring>

namespace rivulon {

// First position in [from, limit) whose entry is positive, or `limit`. The
// entries are never negative, so a block whose bits are all zero holds none
// and is passed over at once.
inline int64_t next_positive(const float* table, int64_t from, int64_t limit) {
  constexpr int64_t kBlock = 16;
  int64_t i = from;
  for (; i < limit && (i % kBlock) != 0; ++i) {
    if (table[i] > 0) return i;
  }
  while (i + kBlock <= limit) {
    uint32_t bits = 0;
    for (int64_t k = 0; k < kBlock; ++k) {
      uint32_t word;
      std::memcpy(&word, table + i + k, sizeof word);
      bits |= word;
    }
    if (bits != 0) break;
    i += kBlock;
  }
  for (; i < limit; ++i) {
    if (table[i] > 0) return i;
  }
  return limit;
}

}  // namespace rivulon
