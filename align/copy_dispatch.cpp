// Which variant of the banded copy scoring runs: the anti-diagonals in AVX2
// lanes where the processor has them and the motif is long enough to fill
// them (16-bit lanes when no origin is asked for and the scores fit, 32-bit
// ones otherwise), the plain rows elsewhere. All give the same bits.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "align/copy_kernels.h"

namespace rivulon {

namespace {

// The banded scoring as the detectors run it (without origins when they are
// not read).
template <bool Origins = true>
CopySimilarity score_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                            const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
  if (L >= kBandedVectorFrom && copy_avx2_available()) {
    if (!Origins && banded_scores_fit_16_bits(L, scoring)) {
      return score_banded_lanes16(seq, b, L, m, h, scoring, matrix, at_least);
    }
    return score_banded_lanes32(seq, b, L, m, h, scoring, matrix, at_least, Origins);
  }
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, at_least);
}

}  // namespace

CopySimilarity align_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                   const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_banded(seq, b, L, m, h, scoring, matrix, -std::numeric_limits<double>::infinity());
}

CopySimilarity align_copies_banded_vector(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                          int32_t h, const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_banded(seq, b, L, m, h, scoring, matrix, -std::numeric_limits<double>::infinity());
}

bool banded_scores_fit_16_bits(int32_t L, const Scoring& scoring) {
  const int64_t weight = std::max({std::abs(int64_t{scoring.match}), std::abs(int64_t{scoring.mismatch}),
                                   std::abs(int64_t{scoring.gap}), std::abs(int64_t{scoring.terminal_gap})});
  // A cell holds at most 2L steps' weights; a candidate one more; the most
  // the rest adds, at most L matches, comes on top in the early stop.
  constexpr int64_t kRoom = 32000;
  return (3 * int64_t{L} + 2) * weight <= kRoom &&
         int64_t{out_of_band_value(L, scoring.gap)} < -(2 * int64_t{L} + 1) * weight;
}

bool vector_kernel_available() { return copy_avx2_available(); }

CopySimilarity copy_similarity(SequenceView seq, int64_t b, int32_t L, int32_t m,
                               int32_t full_up_to, const Scoring& scoring, AlignmentMatrix& matrix) {
  return copy_similarity_at_least(seq, b, L, m, full_up_to, scoring, matrix,
                                  -std::numeric_limits<double>::infinity());
}

CopySimilarity copy_similarity_at_least(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                        int32_t full_up_to, const Scoring& scoring,
                                        AlignmentMatrix& matrix, double at_least) {
  if (L <= full_up_to) return score_rows<false>(seq, b, L, m, 0, scoring, matrix, at_least);
  return score_banded(seq, b, L, m, copy_band_half_width(L), scoring, matrix, at_least);
}

double copy_score_at_least(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t full_up_to,
                           const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
  if (L <= full_up_to) return score_rows<false>(seq, b, L, m, 0, scoring, matrix, at_least).similarity;
  return score_banded<false>(seq, b, L, m, copy_band_half_width(L), scoring, matrix, at_least).similarity;
}

}  // namespace rivulon
