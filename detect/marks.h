// Runs of marks: finding the next marked position in a table of
// non-negative floats (the similarity table of definition 1, the marks of
// definition 2), and how far apart the marks of one run may stand.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace rivulon {

// Gap allowance between the marks (or candidate starts) of one run:
// floor(L^0.4) when that exceeds 2, else 2.
inline int32_t run_gap_allowance(int32_t L) {
  const double g = std::pow(static_cast<double>(L), 0.4);
  return g > 2 ? static_cast<int32_t>(std::floor(g)) : 2;
}

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

// What one motif length's screening marked, apart from the table the
// detection keeps: the marked positions in increasing order, with a value
// each where the table keeps one (definition 1), and what a screening needs
// checked against the table before its marks may stand (see each detector).
struct ScreenedMarks {
  std::vector<int32_t> at;
  std::vector<float> value;
  std::vector<int32_t> unsure;  // definition 1: copies only an earlier mark would have let through
  int64_t covered = 0;          // definition 2: positions [0, covered) were screened

  void clear() {
    at.clear();
    value.clear();
    unsure.clear();
    covered = 0;
  }
};

}  // namespace rivulon
