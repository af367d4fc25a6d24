// Local alignment of a stretch of the sequence against a pattern of L bases
// repeated end to end (column L is followed again by column 1).
//
// Rows r = 1..H stand for s[row_offset + r], columns c = 1..L for pattern byte
// c - 1. For each cell:
//   diag = score(r-1, c-1) + (x == y ? match : mismatch)
//   up   = score(r-1, c) + gap     (a sequence base against a gap, move 1)
//   left = score(r, c-1) + gap     (a pattern base against a gap, move 2)
// When up >= left the cell takes the larger of up and diag (diag on a tie),
// otherwise the larger of left and diag (diag on a tie); a value of 0 or below
// becomes 0 with move 0. The best cell is the last one met with the highest
// value. After each row, column 0 receives column L's score and a second pass
// carries it into columns 1, 2, ... while that raises them (move 2); this pass
// does not change the best cell. Column 0 of the row being filled reads 0.
// Penalties are <= 0 (see Scoring); the terminal gap penalty has no effect here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/sequence.h"

namespace rivulon {

// Work space of the pattern alignments, allocated once per run and reused:
// rolling rows for scoring; for the alignments page, the scores of every
// block_rows-th row and the moves of one block, so that drawing a stretch of
// H bases needs about (H / block_rows + block_rows / 32) x (L + 1) x 8 bytes
// (or the moves of every row, up to all_moves_bytes).
class PatternWorkspace {
 public:
  explicit PatternWorkspace(int32_t max_motif);

  std::vector<int64_t> score_prev, score_cur;    // scores of rows r - 1 and r, columns 0..L
                                                 // (64-bit: a long stretch can exceed 32 bits)
  std::vector<int32_t> origin_prev, origin_cur;  // row where the traceback from each cell stops
  std::vector<uint8_t> move_row;                 // moves of the current row (scoring only)
  std::vector<int16_t> pattern;                  // the pattern's bytes, columns 1..L
  std::vector<int64_t> checkpoints;              // scores of rows 0, K, 2K, ... (align_to_pattern)
  std::vector<uint8_t> moves;                    // moves of one block of K rows, 2 bits each
  int32_t block_rows = 1024;                     // K: rows between kept score rows
  // Every row's moves are kept at once, and the rows filled only once, when
  // they take no more than this (4 MiB: some 33,000 rows of a 500-base motif).
  size_t all_moves_bytes = size_t{4} << 20;
  std::vector<int32_t> lanes;                    // the vector rows: scores, origins, pattern (32 bits a cell)
  std::vector<uint32_t> flags;                   // the vector rows: columns where a move 2 may start
};

// Outcome of scoring a stretch against a pattern.
struct PatternScore {
  double score = 0;            // best local score
  int32_t aligned_length = 0;  // last_row - first_row when score reaches the threshold, else 0
  int32_t first_row = 0;       // row where the traceback from the best cell stops (0 below the threshold)
  int32_t last_row = 0;        // the best cell's row (0 below the threshold)
};

// Best local score of s[row_offset + 1 .. row_offset + H] against `pattern`
// (L bytes) repeated, computed in one forward pass with O(L) memory by
// carrying, for each cell, the row where its traceback would stop. Positions
// at or beyond the end of the sequence never match. Below `threshold` only
// that is known: the pass stops once the rows left cannot lift the best cell
// to the threshold, and `score` is then the best met so far.
PatternScore score_against_pattern(SequenceView seq, int64_t row_offset, int32_t H,
                                   const char* pattern, int32_t L, const Scoring& scoring,
                                   double threshold, PatternWorkspace& ws);

// A stretch and the pattern it is drawn against, both inside the sequence.
struct PatternRegion {
  int64_t row_offset;      // rows r = 1..rows stand for s[row_offset + r]
  int64_t pattern_offset;  // the pattern is s[pattern_offset + 1 .. pattern_offset + L]
  int32_t rows;            // H
  int32_t motif_length;    // L
};

// The same alignment with its moves: `moves` receives the traceback from the
// best cell, last move first (none when the best score stays below
// `min_score`). The moves of each block of rows are recomputed from the
// scores kept for the row before it. Returns the column where the traceback
// stopped, 0 when there are no moves.
int32_t align_to_pattern(SequenceView seq, const PatternRegion& region, const Scoring& scoring,
                         double min_score, PatternWorkspace& ws, std::vector<int32_t>& moves);

}  // namespace rivulon
