#include "align/copy_alignment.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "align/lanes.h"

namespace rivulon {

namespace {

// Stand-ins for positions at or beyond the end of the sequence: they differ
// from every base and from each other.
constexpr int16_t kPastEndColumn = -2;
constexpr int16_t kPastEndRow = -1;

// The base at `idx` as the kernels compare it, or `past_end` at or beyond the end.
inline int16_t base_code(SequenceView seq, int64_t idx, int16_t past_end) {
  return idx < seq.n ? static_cast<int16_t>(static_cast<unsigned char>(seq.bases[idx])) : past_end;
}
constexpr int32_t kOutOfBandFactor = 100;

// The out-of-band value L * gap * 100, held within the 32-bit range (it only
// has to stay below every in-band value, which it does whenever it is clamped).
int32_t out_of_band_value(int32_t L, int32_t gap) {
  int64_t v = int64_t{L} * gap * kOutOfBandFactor;
  return static_cast<int32_t>(std::max<int64_t>(v, std::numeric_limits<int32_t>::min()));
}

// The least whole score x with x / L >= at_least as the pruning compares
// them, in double: division by L is monotone, so a score is below this
// exactly when its similarity is below the level, and the fill compares
// scores without dividing.
int64_t least_reaching_score(double at_least, int32_t L) {
  constexpr double kFar = 0x1p52;  // far beyond any score
  const double guess = at_least * L;
  if (!(guess < kFar)) return int64_t{1} << 52;
  if (guess <= -kFar) return -(int64_t{1} << 52);
  auto x = static_cast<int64_t>(std::ceil(guess));
  while (static_cast<double>(x - 1) / L >= at_least) --x;
  while (static_cast<double>(x) / L < at_least) ++x;
  return x;
}

// Copy A's bases s[b+1..b+L] into columns 1..L of the work space; positions
// at or beyond the end become a value no base has.
const int16_t* load_column_bases(SequenceView seq, int64_t b, int32_t L, AlignmentMatrix& matrix) {
  int16_t* column = matrix.column_bases.data();
  for (int32_t k = 1; k <= L; ++k) {
    const int64_t idx = b + k;
    column[k] = base_code(seq, idx, kPastEndColumn);
  }
  return column;
}

// Fills the matrix for copy A = s[b+1..b+L] against copy B = s[b+m*L+1..b+m*L+L],
// for tracing: tags are move codes.
// Banded: only columns max(1, j-h)..min(L, j+h) of row j are written.
// Requires a matrix made for tracing.
template <bool Banded>
void fill(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h, const Scoring& scoring,
          AlignmentMatrix& matrix) {
  assert(L >= 1 && L <= matrix.size && b >= -1);
  const int32_t match = scoring.match, mismatch = scoring.mismatch, gap = scoring.gap,
                terminal_gap = scoring.terminal_gap;
  const int16_t* column = load_column_bases(seq, b, L, matrix);

  // Borders: leading end gaps cost the ordinary gap penalty.
  AlignCell* top = matrix.row(0);
  const int32_t top_end = Banded ? std::min(h, L) : L;
  for (int32_t k = 0; k <= top_end; ++k) top[k] = {k * gap, kMoveLeft};
  for (int32_t j = 1; j <= L; ++j) matrix.row(j)[0] = {j * gap, kMoveUp};

  const int32_t oob = out_of_band_value(L, gap);
  const int64_t row_start = b + int64_t{m} * L;
  for (int32_t j = 1; j <= L; ++j) {
    const int64_t ridx = row_start + j;
    const int16_t y = base_code(seq, ridx, kPastEndRow);
    const int32_t lo = Banded ? std::max(1, j - h) : 1;
    const int32_t hi = Banded ? std::min(L, j + h) : L;
    const int32_t row_gap = (j == L) ? terminal_gap : gap;  // horizontal steps along the last row
    const bool vertical_out = Banded && (j + h <= L);  // previous row's band ends before hi
    AlignCell* cur = matrix.row(j);
    const AlignCell* prev = matrix.row(j - 1);
    for (int32_t k = lo; k <= hi; ++k) {
      const int32_t diagonal = prev[k - 1].score + (column[k] == y ? match : mismatch);
      const int32_t horizontal =
          (Banded && k == lo && lo > 1) ? oob : cur[k - 1].score + row_gap;
      const int32_t vertical = (Banded && k == hi && vertical_out)
                                   ? oob
                                   : prev[k].score + (k == L ? terminal_gap : gap);
      // Tie-break: diagonal over both gaps, horizontal over vertical.
      if (vertical > horizontal && vertical > diagonal) {
        cur[k] = {vertical, kMoveUp};
      } else if (horizontal > diagonal) {
        cur[k] = {horizontal, kMoveLeft};
      } else {
        cur[k] = {diagonal, kMoveDiag};
      }
    }
  }
}

// Scoring only, over two rolling rows: the recurrence, borders, band and
// out-of-band value of fill, with scores and the origins of the paths in
// separate arrays. A banded row reads only cells of the previous row's band
// (or the border column), so nothing stale from row j - 2 is ever read.
// With `at_least` above -infinity, stops as soon as the best cell of a row
// plus `match` for every row still to come cannot reach it (see
// copy_similarity_at_least).
template <bool Banded>
CopySimilarity score_rows(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                          const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
  assert(L >= 1 && L <= matrix.size && b >= -1);
  const int32_t match = scoring.match, mismatch = scoring.mismatch, gap = scoring.gap,
                terminal_gap = scoring.terminal_gap;
  const int16_t* column = load_column_bases(seq, b, L, matrix);
  const size_t width = static_cast<size_t>(matrix.size) + 1;
  int32_t* prev_score = matrix.row_scores.data();
  int32_t* cur_score = prev_score + width;
  int32_t* prev_origin = matrix.row_origins.data();
  int32_t* cur_origin = prev_origin + width;

  // Row 0: leading end gaps cost the ordinary gap penalty.
  const int32_t top_end = Banded ? std::min(h, L) : L;
  for (int32_t k = 0; k <= top_end; ++k) {
    prev_score[k] = k * gap;
    prev_origin[k] = k;
  }
  const int32_t oob = out_of_band_value(L, gap);
  const bool pruning = at_least > -std::numeric_limits<double>::infinity();
  const int64_t least = pruning ? least_reaching_score(at_least, L) : 0;
  const int64_t row_start = b + int64_t{m} * L;
  for (int32_t j = 1; j <= L; ++j) {
    const int64_t ridx = row_start + j;
    const int16_t y = base_code(seq, ridx, kPastEndRow);
    const int32_t lo = Banded ? std::max(1, j - h) : 1;
    const int32_t hi = Banded ? std::min(L, j + h) : L;
    const int32_t row_gap = (j == L) ? terminal_gap : gap;
    const bool vertical_out = Banded && (j + h <= L);
    cur_score[0] = j * gap;
    cur_origin[0] = j;
    int32_t row_best = cur_score[0];
    // One cell. Tie-break: diagonal over both gaps, horizontal over vertical;
    // a path through a neighbour outside the band left no known border cell,
    // so its origin is -1.
    auto cell = [&](int32_t k) {
      const int32_t diagonal = prev_score[k - 1] + (column[k] == y ? match : mismatch);
      const bool left_out = Banded && k == lo && lo > 1;
      const bool up_out = Banded && k == hi && vertical_out;
      const int32_t horizontal = left_out ? oob : cur_score[k - 1] + row_gap;
      const int32_t vertical = up_out ? oob : prev_score[k] + (k == L ? terminal_gap : gap);
      if (vertical > horizontal && vertical > diagonal) {
        cur_score[k] = vertical;
        cur_origin[k] = up_out ? -1 : prev_origin[k];
      } else if (horizontal > diagonal) {
        cur_score[k] = horizontal;
        cur_origin[k] = left_out ? -1 : cur_origin[k - 1];
      } else {
        cur_score[k] = diagonal;
        cur_origin[k] = prev_origin[k - 1];
      }
      row_best = std::max(row_best, cur_score[k]);
    };
    // The cells between the band's edges and before the last column take
    // neither the out-of-band value nor the terminal gap: the same cell,
    // without its special cases and with its choices made by selection.
    const int32_t inner_lo = lo + 1, inner_hi = std::min(hi - 1, L - 1);
    if (inner_lo > inner_hi) {
      for (int32_t k = lo; k <= hi; ++k) cell(k);
    } else {
      cell(lo);
      int32_t left_score = cur_score[lo], left_origin = cur_origin[lo];
      for (int32_t k = inner_lo; k <= inner_hi; ++k) {
        const int32_t diagonal = prev_score[k - 1] + (column[k] == y ? match : mismatch);
        const int32_t horizontal = left_score + row_gap;
        const int32_t vertical = prev_score[k] + gap;
        const bool up = vertical > horizontal && vertical > diagonal;
        const bool left = !up && horizontal > diagonal;
        const int32_t score = up ? vertical : (left ? horizontal : diagonal);
        const int32_t origin = up ? prev_origin[k] : (left ? left_origin : prev_origin[k - 1]);
        cur_score[k] = score;
        cur_origin[k] = origin;
        left_score = score;
        left_origin = origin;
        row_best = std::max(row_best, score);
      }
      for (int32_t k = inner_hi + 1; k <= hi; ++k) cell(k);
    }
    if (pruning) {
      // Every path to (L, L) crosses row j; each later row adds at most `match`.
      const int64_t reachable = int64_t{Banded ? std::max(row_best, oob) : row_best} +
                                int64_t{L - j} * match;
      if (reachable < least) {
        return {-std::numeric_limits<double>::infinity(), -1};
      }
    }
    std::swap(prev_score, cur_score);
    std::swap(prev_origin, cur_origin);
  }
  return {static_cast<double>(prev_score[L]) / L, prev_origin[L]};
}

#if defined(__x86_64__) && defined(__GNUC__)
#define RIVULON_VECTOR_KERNEL 1

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

bool cpu_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

// The banded scoring as the detectors run it: by anti-diagonals where the
// processor allows (without origins when they are not read).
template <bool Origins = true>
CopySimilarity score_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                            const Scoring& scoring, AlignmentMatrix& matrix, double at_least) {
#ifdef RIVULON_VECTOR_KERNEL
  if (L >= kBandedVectorFrom && cpu_has_avx2()) {
    if (!Origins && banded_scores_fit_16_bits(L, scoring)) {
      return score_banded_avx2<Lanes16, false>(seq, b, L, m, h, scoring, matrix, at_least);
    }
    return score_banded_avx2<Lanes, Origins>(seq, b, L, m, h, scoring, matrix, at_least);
  }
#endif
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, at_least);
}

template <bool Banded>
int32_t traceback(AlignmentMatrix& matrix, int32_t L, int32_t h, int32_t* moves) {
  int32_t j = L, k = L, count = 0;
  while (j > 0 || k > 0) {
    int32_t code;
    if (j == 0) {
      code = kMoveLeft;
    } else if (k == 0) {
      code = kMoveUp;
    } else if (Banded && (k < j - h || k > j + h)) {
      code = kMoveDiag;  // a cell this call never wrote
    } else {
      code = matrix.row(j)[k].tag;
    }
    moves[count++] = code;
    if (code == kMoveUp) {
      --j;
    } else if (code == kMoveLeft) {
      --k;
    } else {
      --j;
      --k;
    }
  }
  return count;
}

}  // namespace

int32_t copy_max_drift(int32_t L) {
  int32_t d = static_cast<int32_t>(std::floor(2.3 * std::sqrt(0.05 * L)));
  return d == 0 ? 1 : d;
}

int32_t copy_band_half_width(int32_t L) {
  return 2 * static_cast<int32_t>(std::floor(2.3 * std::sqrt(0.05 * L))) + 4;
}

CopySimilarity align_copies(SequenceView seq, int64_t b, int32_t L, int32_t m,
                            const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_rows<false>(seq, b, L, m, 0, scoring, matrix, -std::numeric_limits<double>::infinity());
}

CopySimilarity align_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                   const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_banded(seq, b, L, m, h, scoring, matrix, -std::numeric_limits<double>::infinity());
}

CopySimilarity align_copies_banded_plain(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                         int32_t h, const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, -std::numeric_limits<double>::infinity());
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

bool vector_kernel_available() {
#ifdef RIVULON_VECTOR_KERNEL
  return cpu_has_avx2();
#else
  return false;
#endif
}

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

int32_t trace_copies(SequenceView seq, int64_t b, int32_t L, int32_t m, const Scoring& scoring,
                     AlignmentMatrix& matrix, int32_t* moves) {
  fill<false>(seq, b, L, m, 0, scoring, matrix);
  return traceback<false>(matrix, L, 0, moves);
}

int32_t trace_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                            const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves) {
  fill<true>(seq, b, L, m, h, scoring, matrix);
  return traceback<true>(matrix, L, h, moves);
}

int32_t trace_copy_pair(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t full_up_to,
                        const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves) {
  if (L <= full_up_to) return trace_copies(seq, b, L, m, scoring, matrix, moves);
  return trace_copies_banded(seq, b, L, m, copy_band_half_width(L), scoring, matrix, moves);
}

}  // namespace rivulon
