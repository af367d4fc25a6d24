// Reference for the pattern alignment: the fill (both passes of every row)
// and the traceback of align/pattern_alignment.h over a plain full matrix of
// (L + 1) x (H + 1) cells, written for clarity, not speed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rivulon::reference {

struct PatternAlignmentResult {
  double score;
  int32_t length, first, last;
  std::vector<int32_t> moves;  // the traceback, last move first
  int32_t phase;
};

// Best local score of `stretch` against `pattern` repeated end to end, and
// the traceback from the best cell (last move first) with the column where it
// stops; `first`/`last` are the rows where it stops and starts (0 below the threshold).
inline PatternAlignmentResult pattern_alignment_reference(const std::string& stretch, const std::string& pattern, int32_t gap,
                                                            int32_t mismatch, int32_t match,
                                                            double threshold) {
  const int H = static_cast<int>(stretch.size()), L = static_cast<int>(pattern.size());
  std::vector<std::vector<long>> score(L + 1, std::vector<long>(H + 1, 0));
  std::vector<std::vector<int>> move(L + 1, std::vector<int>(H + 1, 0));
  double best = 0;
  int br = 0, bc = 0;
  for (int r = 1; r <= H; ++r) {
    for (int c = 1; c <= L; ++c) {
      long diag = score[c - 1][r - 1] + (stretch[r - 1] == pattern[c - 1] ? match : mismatch);
      long up = score[c][r - 1] + gap, left = score[c - 1][r] + gap, v;
      int mv;
      if (up >= left) {
        if (diag >= up) v = diag, mv = 3; else v = up, mv = 1;
      } else {
        if (diag >= left) v = diag, mv = 3; else v = left, mv = 2;
      }
      if (v <= 0) v = 0, mv = 0;
      score[c][r] = v;
      move[c][r] = mv;
      if (v >= best) best = static_cast<double>(v), br = r, bc = c;
    }
    score[0][r] = score[L][r];
    for (int c = 1; c <= L; ++c) {
      if (!(score[c - 1][r] + gap > score[c][r])) break;
      score[c][r] = score[c - 1][r] + gap;
      move[c][r] = 2;
    }
  }
  if (best < threshold) return {best, 0, 0, 0, {}, 0};
  int r = br, c = bc, length = 0;
  std::vector<int32_t> moves;
  while (r > 0 && score[c][r] > 0) {
    int mv = move[c][r];
    moves.push_back(mv);
    if (mv == 1) --r, ++length;
    else if (mv == 2) --c;
    else --r, --c, ++length;
    if (c == 0) c = L;
  }
  return {best, length, r, br, moves, c};
}

}  // namespace rivulon::reference
