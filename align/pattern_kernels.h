// The variants of score_against_pattern (align/pattern_alignment.h) and what
// they share: the rolling rows in plain C++ (the reference, every processor)
// and the rows in 8 lanes of 32 bits (AVX2). score_against_pattern picks one
// (align/pattern_dispatch.cpp); every variant gives the same PatternScore.
#pragma once
#include <algorithm>
#include <cstdint>
#include <limits>

#include "align/pattern_alignment.h"

namespace rivulon {

// The shortest motif the vector rows take: below it a row fills too few lanes
// to pay for its three steps. Measured on the sequences of the benchmarks
// (definition 3, one thread): from 8 rather than 16, 8% to 30% less CPU time;
// from 6 or 12, no clear change; from 2, more. The synthetic benchmark
// (bench/align_bench.cpp, a run of copies, where every row has chains of
// moves 2) puts the plain rows ahead up to 32: most alignments of real
// candidates stop early or meet few chains.
inline constexpr int32_t kPatternVectorFrom = 8;

// Rows between two looks at whether the threshold can still be reached.
inline constexpr int32_t kBoundRows = 16;

// Whether a best cell of `threshold` or more can still be met, `rows_left`
// rows after the row whose final scores are row[1..L] with `best` so far: a
// row adds at most `match` to any cell (a diagonal step; the others add a
// penalty, and a new local alignment starts from 0 <= every cell), so no
// later cell passes the row's highest score + match x rows_left.
template <typename Score>
bool can_reach(const Score* row, int32_t L, int64_t best, int64_t rows_left, int32_t match, double threshold) {
  int64_t highest = 0;
  for (int32_t c = 1; c <= L; ++c) highest = std::max<int64_t>(highest, row[c]);
  return static_cast<double>(std::max(best, highest + rows_left * match)) >= threshold;
}

// The plain rows with 64-bit scores.
PatternScore score_against_pattern_rows(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                        const Scoring& scoring, double threshold, PatternWorkspace& ws);

// Whether the 32-bit lanes hold every value of a stretch of H rows: no cell
// passes match x H, and none falls below the largest penalty.
inline bool fits_32_bits(int32_t H, const Scoring& scoring) {
  constexpr int64_t kRoom = std::numeric_limits<int32_t>::max() / 4;
  return int64_t{scoring.match} * (int64_t{H} + 1) <= kRoom && -int64_t{scoring.mismatch} <= kRoom &&
         -int64_t{scoring.gap} <= kRoom;
}

// The rows in AVX2 lanes; only where the processor has AVX2 and fits_32_bits holds.
PatternScore score_against_pattern_avx2(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                        const Scoring& scoring, double threshold, PatternWorkspace& ws);

// Whether this processor runs the AVX2 variant.
bool pattern_avx2_available();

}  // namespace rivulon
