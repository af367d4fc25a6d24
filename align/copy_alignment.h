// Global alignment of one copy of a motif against a later copy, full or
// banded, scoring (copy similarity and origin) or tracing (move list).
//
// Copy A (columns) is s[b+1 .. b+L], copy B (rows) is s[b+m*L+1 .. b+m*L+L].
// Recurrence, for rows j = 1..L and columns k = 1..L:
//   diagonal   = score(j-1, k-1) + (A[k] == B[j] ? match : mismatch)
//   horizontal = score(j, k-1)   + (j == L ? terminal_gap : gap)
//   vertical   = score(j-1, k)   + (k == L ? terminal_gap : gap)
// The vertical step wins only when strictly above both others; otherwise the
// horizontal one when strictly above the diagonal; otherwise the diagonal.
// Borders: (0, k) = k * gap, (j, 0) = j * gap.
// Penalties are <= 0 and always added (see Scoring).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/sequence.h"

namespace rivulon {

struct AlignCell {
  int32_t score;  // best score of a path ending here
  int32_t tag;    // scoring: origin of that path; tracing: move code into this cell
};

// Move codes of a traceback.
constexpr int32_t kMoveUp = 1;    // a base of the row copy against a gap
constexpr int32_t kMoveLeft = 2;  // a base of the column copy against a gap
constexpr int32_t kMoveDiag = 3;  // a base of each copy

// Work space of the copy alignments, allocated once per run for the maximum
// motif length and never cleared between alignments. Scoring keeps two rows
// of scores and two of origins, so that its work stays in the first-level
// cache; tracing needs the whole matrix of (size + 1) x (size + 1) cells,
// allocated only when asked for (cells a banded trace does not write keep
// what earlier calls left there).
struct AlignmentMatrix {
  int32_t size = 0;                   // largest L the work space holds
  std::vector<AlignCell> cells;       // tracing: row-major, stride size + 1
  std::vector<int32_t> row_scores;    // scoring: rows j - 1 and j, size + 1 entries each
  std::vector<int32_t> row_origins;   // scoring: the origins of those cells
  std::vector<int16_t> column_bases;  // copy A's bases of the current call
  std::vector<int32_t> diagonals;     // scoring by anti-diagonals: three of scores, three of origins,
                                      // the two copies' bases, each with margins, and the early stop's
                                      // bonus per lane
  std::vector<int16_t> diagonals16;   // the same in 16-bit lanes

  explicit AlignmentMatrix(int32_t max_motif, bool tracing = false)
      : size(max_motif),
        cells(tracing ? static_cast<std::size_t>(max_motif + 1) * static_cast<std::size_t>(max_motif + 1) : 0,
              AlignCell{0, 0}),
        row_scores(2 * static_cast<std::size_t>(max_motif + 1), 0),
        row_origins(2 * static_cast<std::size_t>(max_motif + 1), 0),
        column_bases(static_cast<std::size_t>(max_motif + 1), 0),
        diagonals(16 * (static_cast<std::size_t>(max_motif) + 64), 0),
        diagonals16(16 * (static_cast<std::size_t>(max_motif) + 64), 0) {}
  AlignCell* row(int32_t j) { return cells.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(size + 1); }
};

// Maximum drift of the screening windows, floor(2.3 * sqrt(0.05 * L)).
int32_t copy_max_drift(int32_t L);
// Band half-width used for motif length L: 2 * copy_max_drift(L) + 4.
int32_t copy_band_half_width(int32_t L);

// Outcome of scoring one copy against a later one.
struct CopySimilarity {
  double similarity;  // score(L, L) / L
  int32_t origin;     // 0 when the best path begins by pairing the first bases of the
                      // two copies, otherwise the index of the border cell it left
};

// Copy A = s[b+1..b+L] against copy B, m motif lengths later. Positions at or
// beyond n never match. Requires 1 <= L <= matrix.size and b >= -1.
CopySimilarity align_copies(SequenceView seq, int64_t b, int32_t L, int32_t m,
                            const Scoring& scoring, AlignmentMatrix& matrix);

// As align_copies, computing only the cells with |row - column| <= h (h < L).
// A neighbour outside the band contributes L * gap * 100 in place of its
// score plus penalty (that value held within the 32-bit range); a path
// through it has origin -1.
CopySimilarity align_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                                   const Scoring& scoring, AlignmentMatrix& matrix);

// Motif lengths up to which (inclusive) a copy pair is aligned over the full
// matrix; longer ones are aligned within the band of copy_band_half_width(L).
// The limits differ between uses and every report depends on them
// (byte-exact: do not unify them).
inline constexpr int32_t kFullScoringUpToDefinition1 = 20;  // definition 1: screening, growth
inline constexpr int32_t kFullScoringUpToDefinition2 = 19;  // definition 2: screening, grouping
inline constexpr int32_t kFullDrawingUpTo = 19;             // the alignments page, definitions 1 and 2

// The banded scoring computed plainly, row by row, and computed by
// anti-diagonals eight cells at a time (AVX2, chosen at run time); both give
// the same bits. Exposed for the differential test and the benchmark.
CopySimilarity align_copies_banded_plain(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                         int32_t h, const Scoring& scoring, AlignmentMatrix& matrix);
CopySimilarity align_copies_banded_vector(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                          int32_t h, const Scoring& scoring, AlignmentMatrix& matrix);
// Motif lengths from which the banded scoring runs by anti-diagonals: below
// about fifty bases an anti-diagonal holds too few cells to fill the vectors.
inline constexpr int32_t kBandedVectorFrom = 48;
// Whether the banded scoring without origins may keep its scores in 16-bit
// lanes for motif length L: every value it forms fits, and the out-of-band
// value stays below every in-band one (not so with a gap penalty of 0).
bool banded_scores_fit_16_bits(int32_t L, const Scoring& scoring);
// True when this processor runs align_copies_banded_vector vectorised.
bool vector_kernel_available();

// Copy similarity as the detectors take it: align_copies for L up to
// `full_up_to`, align_copies_banded with copy_band_half_width(L) above.
CopySimilarity copy_similarity(SequenceView seq, int64_t b, int32_t L, int32_t m,
                               int32_t full_up_to, const Scoring& scoring, AlignmentMatrix& matrix);

// As copy_similarity for a caller that only asks whether the similarity
// reaches `at_least` (compared in double, as `similarity >= at_least`). The
// fill stops once no path can reach it any more: the best cell of a row plus
// `match` for every row still to come (an out-of-band value counted as a cell)
// stays below. The answer is then {-infinity, -1}; otherwise it is exactly
// copy_similarity's.
CopySimilarity copy_similarity_at_least(SequenceView seq, int64_t b, int32_t L, int32_t m,
                                        int32_t full_up_to, const Scoring& scoring,
                                        AlignmentMatrix& matrix, double at_least);

// copy_similarity_at_least's similarity alone: the vector fill then keeps no
// origins.
double copy_score_at_least(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t full_up_to,
                           const Scoring& scoring, AlignmentMatrix& matrix, double at_least);

// Same recurrence, storing a move code per cell, then walking back from (L, L)
// to (0, 0). `moves` receives the codes last move first (room for 2L codes);
// returns how many were written.
int32_t trace_copies(SequenceView seq, int64_t b, int32_t L, int32_t m, const Scoring& scoring,
                     AlignmentMatrix& matrix, int32_t* moves);

// Banded tracing. When the walk stands on a cell outside its row's band (only
// possible when the out-of-band value won, e.g. with a gap penalty of 0), it
// takes a diagonal step instead of reading a move this call never wrote.
int32_t trace_copies_banded(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t h,
                            const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves);

// The moves of a copy pair as a drawing takes them: trace_copies for L up to
// `full_up_to`, trace_copies_banded with copy_band_half_width(L) above.
int32_t trace_copy_pair(SequenceView seq, int64_t b, int32_t L, int32_t m, int32_t full_up_to,
                        const Scoring& scoring, AlignmentMatrix& matrix, int32_t* moves);

}  // namespace rivulon
