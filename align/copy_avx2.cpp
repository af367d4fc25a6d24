// The banded copy scoring by anti-diagonals in AVX2 lanes (GCC and clang on
// x86-64; elsewhere the plain rows stand in).
#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <limits>

#include "align/copy_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include "align/lanes.h"

namespace rivulon {

namespace {

using lanes::Lanes;  // eight cells of one anti-diagonal
using lanes::Lanes16;  // sixteen
using lanes::splat;

// The anti-diagonal fill's work space in either width of lanes.
template <typename T>
T* diagonal_space(AlignmentMatrix& matrix) {
  if constexpr (sizeof(T) == 4) {
    return matrix.diagonals.data();
  } else {
    return matrix.diagonals16.data();
  }
}
template <typename T>
size_t diagonal_space_size(const AlignmentMatrix& matrix) {
  return sizeof(T) == 4 ? matrix.diagonals.size() : matrix.diagonals16.size();
}

// The banded scoring by anti-diagonals. Cell (j, k) lies on anti-diagonal
// d = j + k at offset t = j - k; its left neighbour (j, k-1) and upper one
// (j-1, k) lie on d - 1 at t + 1 and t - 1, its diagonal one on d - 2 at t.
// Anti-diagonal d holds the offsets t0(d), t0(d) + 2, ..., h + 1 at indices
// q = 0, 1, ... with t0(d) = -h when d + h is even and -h + 1 otherwise, so
// the left neighbour sits at index q + s and the upper one at q + s - 1 of
// the previous anti-diagonal (s = 1 when t0(d) = -h + 1), the diagonal one
// at q. Offset h + 1 is kept for the border column only (cell (h + 1, 0)).
// Every cell takes the recurrence, band, borders and tie-breaks of fill: the
// same values and origins in another order.
//
// With `at_least` above -infinity the fill stops as copy_similarity_at_least
// says, judged by anti-diagonals: every path to (L, L) crosses anti-diagonal
// d - 1 or d, and from cell (j, k) it adds at most min(L - j, L - k) matches;
// a later out-of-band value adds at most L - (d + 1) / 2 of them.
//
// Without `Origins` no origin is kept and the answer's origin is 0: the
// scores, and so the similarity, are the same. `V` is eight 32-bit lanes or,
// where every score fits (banded_scores_fit_16_bits), sixteen 16-bit ones,
// the out-of-band value then standing as the lowest 16-bit value: it is
// below every in-band value either way, so it never wins.
template <typename V, bool Origins>
__attribute__((target("avx2"))) CopySimilarity score_banded_avx2(
    SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h, const Scoring& scoring,
    AlignmentMatrix& matrix, double at_least) {
  using T = lanes::ElementOf<V>;
  static_assert(!Origins || sizeof(T) == 4, "origins are kept in 32-bit lanes");
  constexpr int32_t kWidth = sizeof(V) / sizeof(T);
  constexpr int32_t kMargin = 2 * kWidth;  // room before index 0 and past the last lane
  constexpr int32_t kJudgeEvery = 8;
  const int32_t lanes_max = h + 2;  // offsets t0 .. h + 1 in steps of 2, at most
  const int32_t span = ((lanes_max + kWidth - 1) / kWidth) * kWidth + 2 * kMargin;
  T* base = diagonal_space<T>(matrix);
  // Scores and origins of anti-diagonals d - 2, d - 1, d (rotated), bases of
  // copy B by row and of copy A by column in reverse.
  T* score[3] = {base, base + span, base + 2 * span};
  T* origin[3] = {base + 3 * span, base + 4 * span, base + 5 * span};
  T* row_base = base + 6 * span;             // row_base[kMargin + j] for j = -kMargin ..
  T* column_reversed = row_base + L + 3 * kMargin;  // [kMargin + L - k] = column k
  for (int32_t j = -kMargin; j <= L + kMargin; ++j) {
    const int64_t idx = b + int64_t{m} * L + j;
    row_base[kMargin + j] = (j >= 1 && j <= L)
                                ? base_code(seq, idx, kPastEndRow)
                                : kPastEndRow;
  }
  for (int32_t k = -kMargin; k <= L + kMargin; ++k) {
    const int64_t idx = b + k;
    column_reversed[kMargin + L - k] = (k >= 1 && k <= L)
                                           ? base_code(seq, idx, kPastEndColumn)
                                           : kPastEndColumn;
  }
  const int32_t match = scoring.match, mismatch = scoring.mismatch, gap = scoring.gap,
                terminal_gap = scoring.terminal_gap;
  const int32_t oob = out_of_band_value(L, gap);
  const int32_t oob_lane = sizeof(T) == 4 ? oob : std::numeric_limits<T>::min();
  V step;
  for (int32_t i = 0; i < kWidth; ++i) step[i] = static_cast<T>(i);
  // The most a cell still adds, min(L - j, L - k) * match, is (L - (d + |t|) / 2)
  // * match: per anti-diagonal of parity p, (L - (d - p) / 2) * match less
  // bonus[p][q] = ((|t| + p) / 2) * match, t being lane q's offset.
  const int32_t rounded_lanes = ((lanes_max + kWidth - 1) / kWidth) * kWidth;
  T* bonus[2] = {column_reversed + L + 3 * kMargin, column_reversed + L + 3 * kMargin + span};
  assert(bonus[1] + span <= base + diagonal_space_size<T>(matrix));
  for (int32_t p = 0; p < 2; ++p) {
    const int32_t t0 = ((p + h) % 2 == 0) ? -h : -h + 1;
    for (int32_t q = 0; q < rounded_lanes; ++q) bonus[p][q] = static_cast<T>(((std::abs(t0 + 2 * q) + p) / 2) * match);
  }
  const bool pruning = at_least > -std::numeric_limits<double>::infinity();
  const int64_t least = pruning ? least_reaching_score(at_least, L) : 0;
  // A lane at or above it may still reach the level (held within the lanes'
  // range: a clamped one only keeps the fill going, never stops it).
  const V least_lanes = splat<V>(static_cast<int32_t>(
      std::clamp<int64_t>(least, std::numeric_limits<T>::min(), std::numeric_limits<T>::max())));
  bool previous_reaches = false;  // anti-diagonal d - 1
  int32_t result_score = 0, result_origin = 0;
  for (int32_t d = 0; d <= 2 * L; ++d) {
    T* here_score = score[d % 3];
    T* here_origin = origin[d % 3];
    const T* left_score = score[(d + 2) % 3];  // d - 1
    const T* left_origin = origin[(d + 2) % 3];
    const T* diag_score = score[(d + 1) % 3];  // d - 2
    const T* diag_origin = origin[(d + 1) % 3];
    const int32_t t0 = ((d + h) % 2 == 0) ? -h : -h + 1;
    const int32_t shift = (t0 == -h) ? 0 : 1;
    const int32_t lanes = (h + 1 - t0) / 2 + 1;
    const int32_t j0 = (d + t0) / 2, k0 = (d - t0) / 2;  // lane q: j = j0 + q, k = k0 - q
    // Row 0 and column 0 fall within the lanes computed only near the start.
    const bool borders = (j0 <= 0 && -j0 < rounded_lanes) || (k0 >= 0 && k0 < rounded_lanes);
    // V inside the matrix and the band: lo .. hi, and the border column's
    // cell (d, 0) while d <= h + 1.
    const int32_t lo = std::max({0, -j0, k0 - L});
    const int32_t hi = std::min({k0, L - j0, (h - t0) / 2, lanes - 1});
    const int32_t column_lane = (k0 < lanes && d <= L) ? k0 : -1;
    const int32_t parity = d % 2;
    const V reach_base = splat<V>((L - (d - parity) / 2) * match);
    // The early stop is judged on anti-diagonals d - 1 and d for every
    // kJudgeEvery-th d only: it comes at most that many anti-diagonals later.
    const bool judging = pruning && (d % kJudgeEvery == 0 || d % kJudgeEvery == kJudgeEvery - 1);
    V reaching = splat<V>(0);  // lanes whose cell may still reach the level
    for (int32_t q = 0; q < lanes; q += kWidth) {
      const V qv = splat<V>(q) + step;
      const V j = splat<V>(j0) + qv, k = splat<V>(k0) - qv, t = j - k;
      const V diag_prev = lanes::load<V>(diag_score + kMargin + q);
      const V left_prev = lanes::load<V>(left_score + kMargin + q + shift);
      const V up_prev = lanes::load<V>(left_score + kMargin + q + shift - 1);
      const V same = lanes::load<V>(row_base + kMargin + j0 + q) == lanes::load<V>(column_reversed + kMargin + L - k0 + q);
      const V diagonal = diag_prev + (same ? splat<V>(match) : splat<V>(mismatch));
      // Left neighbour outside the band (not the border column): the out-of-band value.
      const V left_out = (t + 1 > splat<V>(h)) & (k > splat<V>(1));
      const V horizontal =
          left_out ? splat<V>(oob_lane) : left_prev + (j == splat<V>(L) ? splat<V>(terminal_gap) : splat<V>(gap));
      const V up_out = t == splat<V>(-h);
      const V vertical = up_out ? splat<V>(oob_lane) : up_prev + (k == splat<V>(L) ? splat<V>(terminal_gap) : splat<V>(gap));
      const V take_up = (vertical > horizontal) & (vertical > diagonal);
      const V take_left = ~take_up & (horizontal > diagonal);
      V value = take_up ? vertical : (take_left ? horizontal : diagonal);
      // Borders: row 0 (k * gap, origin k) and column 0 (j * gap, origin j).
      const V on_row0 = j == splat<V>(0), on_col0 = k == splat<V>(0);
      if (borders) value = on_row0 ? k * splat<V>(gap) : (on_col0 ? j * splat<V>(gap) : value);
      lanes::store(here_score + kMargin + q, value);
      if constexpr (Origins) {
        V from = take_up ? (up_out ? splat<V>(-1) : lanes::load<V>(left_origin + kMargin + q + shift - 1))
                             : (take_left ? (left_out ? splat<V>(-1) : lanes::load<V>(left_origin + kMargin + q + shift))
                                          : lanes::load<V>(diag_origin + kMargin + q));
        from = on_row0 ? k : (on_col0 ? j : from);
        lanes::store(here_origin + kMargin + q, from);
      }
      if (judging) {
        const V inside = ((qv >= splat<V>(lo)) & (qv <= splat<V>(hi))) | (qv == splat<V>(column_lane));
        const V cell_reach = value + (reach_base - lanes::load<V>(bonus[parity] + q));
        reaching |= inside & (cell_reach >= least_lanes);
      }
    }
    if (judging) {
      const bool here_reaches = !_mm256_testz_si256(reinterpret_cast<__m256i>(reaching),
                                                    reinterpret_cast<__m256i>(reaching));
      const int64_t later_oob = int64_t{oob} + int64_t{(2 * L - d - 1) / 2} * match;
      const bool reaches = here_reaches || previous_reaches || later_oob >= least;
      previous_reaches = here_reaches;
      if (d >= 1 && d % kJudgeEvery == 0 && !reaches) return {-std::numeric_limits<double>::infinity(), -1};
    }
    if (d == 2 * L) {
      const int32_t q = (0 - t0) / 2;
      result_score = here_score[kMargin + q];
      if constexpr (Origins) result_origin = here_origin[kMargin + q];
    }
  }
  return {static_cast<double>(result_score) / L, result_origin};
}

}  // namespace

CopySimilarity score_banded_lanes32(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least,
                                    bool origins) {
  return origins ? score_banded_avx2<Lanes, true>(seq, b, L, m, h, scoring, matrix, at_least)
                 : score_banded_avx2<Lanes, false>(seq, b, L, m, h, scoring, matrix, at_least);
}

CopySimilarity score_banded_lanes16(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
  return score_banded_avx2<Lanes16, false>(seq, b, L, m, h, scoring, matrix, at_least);
}

bool copy_avx2_available() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace rivulon

#else

namespace rivulon {

CopySimilarity score_banded_lanes32(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least, bool) {
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, at_least);
}

CopySimilarity score_banded_lanes16(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                    const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, at_least);
}

bool copy_avx2_available() { return false; }

}  // namespace rivulon

#endif
