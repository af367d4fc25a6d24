// The copy alignment in plain C++: the rows, full or banded, scoring (two
// rolling rows, the reference of the vector fill) or tracing (the whole
// matrix, then the walk back).
#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "align/copy_kernels.h"

namespace rivulon {

namespace {

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

}  // namespace

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

template CopySimilarity score_rows<false>(SequenceView, int64_t, int32_t, int32_t, int32_t, const Scoring&,
                                          AlignmentMatrix&, double);
template CopySimilarity score_rows<true>(SequenceView, int64_t, int32_t, int32_t, int32_t, const Scoring&,
                                         AlignmentMatrix&, double);

namespace {

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

CopySimilarity align_copies_banded_plain(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                         int32_t h, const Scoring& scoring, AlignmentMatrix& matrix) {
  return score_rows<true>(seq, b, L, m, h, scoring, matrix, -std::numeric_limits<double>::infinity());
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
