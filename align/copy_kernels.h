// The variants of the copy alignment (align/copy_alignment.h) and what they
// share: the rows in plain C++ (the reference, every processor; full or
// banded, scoring or tracing: align/copy_alignment.cpp) and the banded
// scoring by anti-diagonals in AVX2 lanes, 8 of 32 bits or 16 of 16 bits
// (align/copy_avx2.cpp). align/copy_dispatch.cpp picks one; every variant
// gives the same CopySimilarity.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "align/copy_alignment.h"

namespace rivulon {

// Stand-ins for positions at or beyond the end of the sequence: they differ
// from every base and from each other.
inline constexpr int16_t kPastEndColumn = -2;
inline constexpr int16_t kPastEndRow = -1;

// The base at `idx` as the kernels compare it, or `past_end` at or beyond the end.
inline int16_t base_code(SequenceView seq, int64_t idx, int16_t past_end) {
  return idx < seq.n ? static_cast<int16_t>(static_cast<unsigned char>(seq.bases[idx])) : past_end;
}
inline constexpr int32_t kOutOfBandFactor = 100;

// The out-of-band value L * gap * 100, held within the 32-bit range (it only
// has to stay below every in-band value, which it does whenever it is clamped).
inline int32_t out_of_band_value(int32_t L, int32_t gap) {
  int64_t v = int64_t{L} * gap * kOutOfBandFactor;
  return static_cast<int32_t>(std::max<int64_t>(v, std::numeric_limits<int32_t>::min()));
}

// The least whole score x with x / L >= at_least as the pruning compares
// them, in double: division by L is monotone, so a score is below this
// exactly when its similarity is below the level, and the fill compares
// scores without dividing.
inline int64_t least_reaching_score(double at_least, int32_t L) {
  constexpr double kFar = 0x1p52;  // far beyond any score
  const double guess = at_least * L;
  if (!(guess < kFar)) return int64_t{1} << 52;
  if (guess <= -kFar) return -(int64_t{1} << 52);
  auto x = static_cast<int64_t>(std::ceil(guess));
  while (static_cast<double>(x - 1) / L >= at_least) --x;
  while (static_cast<double>(x) / L < at_least) ++x;
  return x;
}

// The rows in plain C++, with the early stop of copy_similarity_at_least when
// `at_least` is above -infinity (Banded: only |row - column| <= h).
template <bool Banded>
CopySimilarity score_rows(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                          const Scoring& scoring, AlignmentMatrix& matrix, double at_least);

// The banded scoring by anti-diagonals in 8 lanes of 32 bits, with origins
// or without (the answer's origin then 0), and in 16 lanes of 16 bits
// without origins where banded_scores_fit_16_bits holds. Only where
// copy_avx2_available().
CopySimilarity score_banded_lanes32(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least,
                                    bool origins);
CopySimilarity score_banded_lanes16(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least);
// Whether this processor runs the AVX2 variants.
bool copy_avx2_available();

}  // namespace rivulon
