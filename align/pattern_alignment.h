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
// Penalties are negated; the terminal gap penalty has no effect here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rivulon {

// Work space of the pattern alignments, allocated once per run and reused:
// rolling rows for scoring; for the alignments page, the scores of every
// block_rows-th row and the moves of one block, so that drawing a stretch of
// H bases needs about (H / block_rows + block_rows / 32) x (L + 1) x 8 bytes.
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
};

// Best local score of s[row_offset + 1 .. row_offset + H] against `pattern`
// (L bytes) repeated. When the best score reaches `threshold`, `first_row`
// receives the row where the traceback from the best cell stops, `last_row`
// the best cell's row and `aligned_length` their difference; otherwise only
// `aligned_length` is set (to 0). Computed in one forward pass with O(L)
// memory by carrying, for each cell, the row where its traceback would stop.
// Positions at or beyond n never match.
double score_against_pattern(int32_t& aligned_length, const char* s, int64_t n, int64_t row_offset,
                             const char* pattern, int32_t H, int32_t L, int32_t& first_row,
                             int32_t& last_row, PatternWorkspace& ws, int32_t gap,
                             int32_t terminal_gap, int32_t mismatch, int32_t match,
                             double threshold);

// The same alignment against the pattern s[pattern_offset + 1 .. pattern_offset + L],
// with its moves: `moves` receives the traceback from the best cell, last
// move first, and `phase` the column where it stopped. The moves of each block
// of rows are recomputed from the scores kept for the row before it. Returns the number of
// moves, 0 when the best score stays below `min_score` (phase then untouched).
int32_t align_to_pattern(const char* s, int64_t n, int64_t row_offset, int64_t pattern_offset,
                         int32_t H, int32_t L, PatternWorkspace& ws, int32_t gap,
                         int32_t terminal_gap, int32_t mismatch, int32_t match, double min_score,
                         std::vector<int32_t>& moves, int32_t& phase);

}  // namespace rivulon
