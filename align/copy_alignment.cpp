#include "align/copy_alignment.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace rivulon {

namespace {

// Stand-ins for positions at or beyond the end of the sequence: they differ
// from every base and from each other.
constexpr int16_t kPastEndColumn = -2;
constexpr int16_t kPastEndRow = -1;
constexpr int32_t kOutOfBandFactor = 100;

// The out-of-band value L * gap * 100, held within the 32-bit range (it only
// has to stay below every in-band value, which it does whenever it is clamped).
int32_t out_of_band_value(int32_t L, int32_t gap) {
  int64_t v = int64_t{L} * gap * kOutOfBandFactor;
  return static_cast<int32_t>(std::max<int64_t>(v, std::numeric_limits<int32_t>::min()));
}

// Fills the matrix for copy A = s[b+1..b+L] against copy B = s[b+m*L+1..b+m*L+L].
// Trace: tags are move codes; otherwise tags carry the origin of the best path.
// Banded: only columns max(1, j-h)..min(L, j+h) of row j are written.
template <bool Trace, bool Banded>
void fill(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h, const Scoring& scoring,
          AlignmentMatrix& matrix) {
  assert(L >= 1 && L <= matrix.size && b >= -1);
  const char* s = seq.bases;
  const int64_t n = seq.n;
  const int32_t match = scoring.match, mismatch = scoring.mismatch, gap = scoring.gap,
                terminal_gap = scoring.terminal_gap;
  int16_t* column = matrix.column_bases.data();
  for (int32_t k = 1; k <= L; ++k) {
    int64_t idx = b + k;
    column[k] = idx < n ? static_cast<int16_t>(static_cast<unsigned char>(s[idx])) : kPastEndColumn;
  }

  // Borders: leading end gaps cost the ordinary gap penalty.
  AlignCell* top = matrix.row(0);
  const int32_t top_end = Banded ? std::min(h, L) : L;
  for (int32_t k = 0; k <= top_end; ++k) top[k] = {k * gap, Trace ? kMoveLeft : k};
  for (int32_t j = 1; j <= L; ++j) matrix.row(j)[0] = {j * gap, Trace ? kMoveUp : j};

  const int32_t oob = out_of_band_value(L, gap);
  const int64_t row_start = b + int64_t{m} * L;
  for (int32_t j = 1; j <= L; ++j) {
    const int64_t ridx = row_start + j;
    const int16_t y = ridx < n ? static_cast<int16_t>(static_cast<unsigned char>(s[ridx])) : kPastEndRow;
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
        cur[k] = {vertical, Trace ? kMoveUp : prev[k].tag};
      } else if (horizontal > diagonal) {
        cur[k] = {horizontal, Trace ? kMoveLeft : cur[k - 1].tag};
      } else {
        cur[k] = {diagonal, Trace ? kMoveDiag : prev[k - 1].tag};
      }
    }
  }
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
  fill<false, false>(seq, b, L, m, 0, scoring, matrix);
  const AlignCell& last = matrix.row(L)[L];
  return {static_cast<double>(last.score) / L, last.tag};
}

CopySimilarity align_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                   const Scoring& scoring, AlignmentMatrix& matrix) {
  fill<false, true>(seq, b, L, m, h, scoring, matrix);
  const AlignCell& last = matrix.row(L)[L];
  return {static_cast<double>(last.score) / L, last.tag};
}

CopySimilarity copy_similarity(SequenceView seq, int64_t b, int32_t L, int32_t m,
                               int32_t full_up_to, const Scoring& scoring, AlignmentMatrix& matrix) {
  if (L <= full_up_to) return align_copies(seq, b, L, m, scoring, matrix);
  return align_copies_banded(seq, b, L, m, copy_band_half_width(L), scoring, matrix);
}

int32_t trace_copies(SequenceView seq, int64_t b, int32_t L, int32_t m, const Scoring& scoring,
                     AlignmentMatrix& matrix, int32_t* moves) {
  fill<true, false>(seq, b, L, m, 0, scoring, matrix);
  return traceback<false>(matrix, L, 0, moves);
}

int32_t trace_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                            const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves) {
  fill<true, true>(seq, b, L, m, h, scoring, matrix);
  return traceback<true>(matrix, L, h, moves);
}

int32_t trace_copy_pair(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t full_up_to,
                        const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves) {
  if (L <= full_up_to) return trace_copies(seq, b, L, m, scoring, matrix, moves);
  return trace_copies_banded(seq, b, L, m, copy_band_half_width(L), scoring, matrix, moves);
}

}  // namespace rivulon
