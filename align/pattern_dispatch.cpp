// Which variant of score_against_pattern runs: the AVX2 lanes where the
// processor has them, the motif is long enough to fill them and the scores
// fit 32 bits; the plain rows otherwise. Both give the same PatternScore.
#include "align/pattern_kernels.h"

namespace rivulon {

PatternScore score_against_pattern(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                   const Scoring& scoring, double threshold, PatternWorkspace& ws) {
  if (L >= kPatternVectorFrom && fits_32_bits(H, scoring) && pattern_avx2_available()) {
    return score_against_pattern_avx2(seq, row_offset, H, pattern, L, scoring, threshold, ws);
  }
  return score_against_pattern_rows(seq, row_offset, H, pattern, L, scoring, threshold, ws);
}

}  // namespace rivulon
