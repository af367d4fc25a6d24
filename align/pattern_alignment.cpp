#include "align/pattern_alignment.h"

#include <algorithm>

#include "align/pattern_kernels.h"

namespace rivulon {

namespace {

constexpr uint8_t kStart = 0, kUp = 1, kLeft = 2, kDiag = 3;
constexpr int16_t kPastEndRow = -1;      // a stretch position beyond the sequence
constexpr int16_t kPastEndPattern = -2;  // a pattern position beyond the sequence

// What every row of one alignment shares.
struct RowContext {
  int32_t L;               // pattern length: columns 1..L
  const int16_t* pattern;  // the pattern's bytes at columns 1..L
  int32_t gap, mismatch, match;
};

// The rows of the fill: scores of rows r - 1 and r, the moves of row r, and,
// when origins are tracked, for every cell the row where a traceback from it would stop.
struct RowBuffers {
  const int64_t* prev;
  int64_t* cur;
  uint8_t* moves;
  const int32_t* prev_org;
  int32_t* cur_org;
};

// The best cell so far: the last one met with the highest value.
struct BestCell {
  int64_t value = 0;
  int32_t row = 0, col = 0;
};

// Fills row r (sequence byte x) from row r - 1, both passes. Updates `best`
// from the first pass only; returns true when the best cell moved into this row.
// TrackOrigins: `cur_org` receives, for every cell, the row where a traceback
// from it would stop, from the final moves of the row and `prev_org` of row
// r - 1 (a move-2 step stays in the row, column 1 stepping back to column L).
template <bool TrackOrigins>
bool fill_row(int32_t r, int16_t x, const RowContext& ctx, const RowBuffers& rows, BestCell& best) {
  const int32_t L = ctx.L, gap = ctx.gap, mismatch = ctx.mismatch, match = ctx.match;
  const int16_t* pattern = ctx.pattern;
  const int64_t* prev = rows.prev;
  int64_t* cur = rows.cur;
  uint8_t* moves = rows.moves;
  const int32_t* prev_org = rows.prev_org;
  int32_t* cur_org = rows.cur_org;
  bool moved = false;
  cur[0] = 0;  // column 0 of the row being filled reads 0
  moves[0] = kStart;
  for (int32_t c = 1; c <= L; ++c) {
    const int64_t diag = prev[c - 1] + (x == pattern[c] ? match : mismatch);
    const int64_t up = prev[c] + gap;
    const int64_t left = cur[c - 1] + gap;
    int64_t v;
    uint8_t mv;
    if (up >= left) {
      if (diag >= up) { v = diag; mv = kDiag; } else { v = up; mv = kUp; }
    } else {
      if (diag >= left) { v = diag; mv = kDiag; } else { v = left; mv = kLeft; }
    }
    if (v <= 0) {
      v = 0;
      mv = kStart;
    }
    cur[c] = v;
    moves[c] = mv;
    if constexpr (TrackOrigins) {
      // Column 1 never takes a move 2 here: column 0 reads 0 in this pass.
      cur_org[c] = mv == kStart ? r
                 : mv == kUp    ? prev_org[c]
                 : mv == kDiag  ? prev_org[c == 1 ? L : c - 1]
                                : cur_org[c - 1];
    }
    if (v >= best.value) {
      best.value = v;
      best.row = r;
      best.col = c;
      moved = true;
    }
  }
  // Wrap-around: the end of the pattern runs on into its start. Column L is
  // never raised here (the gap penalty is not positive), and the column after
  // the last raised one cannot hold a first-pass move 2 (it would have been
  // raised too), so no origin of an unraised cell changes.
  cur[0] = cur[L];
  for (int32_t c = 1; c <= L; ++c) {
    const int64_t carried = cur[c - 1] + gap;
    if (!(carried > cur[c])) break;
    cur[c] = carried;
    moves[c] = kLeft;
    if constexpr (TrackOrigins) cur_org[c] = cur_org[c == 1 ? L : c - 1];
  }
  return moved;
}

// Loads the pattern bytes into columns 1..L of the work space.
void load_pattern(PatternWorkspace& ws, int32_t L, const char* bytes, int64_t available) {
  ws.pattern.resize(static_cast<size_t>(L) + 1);
  for (int32_t c = 1; c <= L; ++c) {
    ws.pattern[c] = (c - 1 < available) ? static_cast<int16_t>(static_cast<unsigned char>(bytes[c - 1]))
                                       : kPastEndPattern;
  }
}

void prepare_rows(PatternWorkspace& ws, int32_t L) {
  const size_t width = static_cast<size_t>(L) + 1;
  if (ws.score_prev.size() < width) {
    ws.score_prev.resize(width);
    ws.score_cur.resize(width);
    ws.origin_prev.resize(width);
    ws.origin_cur.resize(width);
    ws.move_row.resize(width);
  }
  std::fill(ws.score_prev.begin(), ws.score_prev.begin() + static_cast<long>(width), 0);
  std::fill(ws.origin_prev.begin(), ws.origin_prev.begin() + static_cast<long>(width), 0);
}

int16_t row_base(const char* s, int64_t n, int64_t index) {
  return index < n ? static_cast<int16_t>(static_cast<unsigned char>(s[index])) : kPastEndRow;
}

}  // namespace

PatternWorkspace::PatternWorkspace(int32_t max_motif) {
  const size_t width = static_cast<size_t>(std::max(max_motif, 1)) + 1;
  score_prev.assign(width, 0);
  score_cur.assign(width, 0);
  origin_prev.assign(width, 0);
  origin_cur.assign(width, 0);
  move_row.assign(width, 0);
  pattern.assign(width, 0);
}

PatternScore score_against_pattern_rows(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                        const Scoring& scoring, double threshold, PatternWorkspace& ws) {
  load_pattern(ws, L, pattern, L);
  prepare_rows(ws, L);
  const RowContext ctx{L, ws.pattern.data(), scoring.gap, scoring.mismatch, scoring.match};
  BestCell best;
  int32_t best_first = 0;
  for (int32_t r = 1; r <= H; ++r) {
    const int16_t x = row_base(seq.bases, seq.n, row_offset + r);
    const RowBuffers rows{ws.score_prev.data(), ws.score_cur.data(), ws.move_row.data(),
                          ws.origin_prev.data(), ws.origin_cur.data()};
    if (fill_row<true>(r, x, ctx, rows, best)) best_first = ws.origin_cur[static_cast<size_t>(best.col)];
    std::swap(ws.score_prev, ws.score_cur);
    std::swap(ws.origin_prev, ws.origin_cur);
    if (r % kBoundRows == 0 && !can_reach(ws.score_prev.data(), L, best.value, H - r, scoring.match, threshold)) {
      return PatternScore{static_cast<double>(best.value), 0, 0, 0};
    }
  }
  PatternScore result;
  result.score = static_cast<double>(best.value);
  if (result.score < threshold) return result;
  result.first_row = best_first;
  result.last_row = best.row;
  result.aligned_length = best.row - best_first;
  return result;
}

int32_t align_to_pattern(SequenceView seq, const PatternRegion& region, const Scoring& scoring,
                         double min_score, PatternWorkspace& ws, std::vector<int32_t>& moves) {
  const char* s = seq.bases;
  const int64_t n = seq.n;
  const int64_t row_offset = region.row_offset, pattern_offset = region.pattern_offset;
  const int32_t H = region.rows, L = region.motif_length;
  const int64_t available = std::max<int64_t>(0, n - (pattern_offset + 1));
  load_pattern(ws, L, s + pattern_offset + 1, available);
  prepare_rows(ws, L);
  const RowContext ctx{L, ws.pattern.data(), scoring.gap, scoring.mismatch, scoring.match};
  const size_t width = static_cast<size_t>(L) + 1;
  const int32_t K = std::max(1, ws.block_rows);

  // When the moves of every row fit ws.all_moves_bytes (or the rows fit one
  // block), they are kept on the forward fill, and the traceback needs no
  // second fill; otherwise a block's worth at a time.
  const size_t row_bytes = (width + 3) / 4;
  const bool one_block = H <= K || static_cast<size_t>(H) * row_bytes <= ws.all_moves_bytes;
  const size_t kept_rows = static_cast<size_t>(one_block ? H : K);
  if (ws.moves.size() < kept_rows * row_bytes) ws.moves.resize(kept_rows * row_bytes);
  // The moves of a row, two bits each, into row `index` of those kept.
  auto keep_moves = [&](int32_t index) {
    uint8_t* packed = ws.moves.data() + static_cast<size_t>(index) * row_bytes;
    std::fill(packed, packed + row_bytes, 0);
    for (int32_t col = 0; col <= L; ++col) {
      packed[col / 4] = static_cast<uint8_t>(packed[col / 4] | (ws.move_row[static_cast<size_t>(col)] << (2 * (col % 4))));
    }
  };

  // Forward fill for the best cell, keeping the scores of rows 0, K, 2K, ...
  // (or every row's moves).
  if (!one_block) {
    const size_t checkpoints = static_cast<size_t>(H / K) + 1;
    if (ws.checkpoints.size() < checkpoints * width) ws.checkpoints.resize(checkpoints * width);
    std::copy(ws.score_prev.begin(), ws.score_prev.begin() + static_cast<long>(width), ws.checkpoints.begin());
  }
  auto fill = [&](int32_t r, BestCell& best_so_far) {
    const RowBuffers rows{ws.score_prev.data(), ws.score_cur.data(), ws.move_row.data(), nullptr, nullptr};
    fill_row<false>(r, row_base(s, n, row_offset + r), ctx, rows, best_so_far);
    std::swap(ws.score_prev, ws.score_cur);
  };
  BestCell best;
  for (int32_t r = 1; r <= H; ++r) {
    fill(r, best);
    if (one_block) {
      keep_moves(r - 1);
    } else if (r % K == 0) {
      std::copy(ws.score_prev.begin(), ws.score_prev.begin() + static_cast<long>(width),
                ws.checkpoints.begin() + static_cast<long>(static_cast<size_t>(r / K) * width));
    }
  }
  moves.clear();
  if (static_cast<double>(best.value) < min_score) return 0;

  // Traceback from the best cell, block by block from the last: the moves of
  // rows b*K + 1 .. r are filled again from the scores kept for row b*K. A
  // positive score always carries a move, a score of 0 move 0.
  int32_t r = best.row, c = best.col;
  while (r > 0) {
    const int32_t base = one_block ? 0 : ((r - 1) / K) * K;  // the block holds rows base + 1 .. r
    if (!one_block) {
      std::copy(ws.checkpoints.begin() + static_cast<long>(static_cast<size_t>(base / K) * width),
                ws.checkpoints.begin() + static_cast<long>(static_cast<size_t>(base / K + 1) * width),
                ws.score_prev.begin());
      BestCell unused;
      for (int32_t row = base + 1; row <= r; ++row) {
        fill(row, unused);
        keep_moves(row - base - 1);
      }
    }
    while (r > base) {
      const uint8_t packed = ws.moves[static_cast<size_t>(r - base - 1) * row_bytes + static_cast<size_t>(c) / 4];
      const uint8_t mv = static_cast<uint8_t>((packed >> (2 * (c % 4))) & 3);
      if (mv == kStart) return c;
      moves.push_back(mv);
      if (mv == kUp) {
        --r;
      } else if (mv == kLeft) {
        --c;
      } else {
        --r;
        --c;
      }
      if (c == 0) c = L;
    }
  }
  return c;
}

}  // namespace rivulon
