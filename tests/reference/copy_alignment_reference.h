// Reference for the copy alignment kernels: the recurrence, tie-breaks and
// borders of align/copy_alignment.h over a plain full matrix, written for
// clarity, not speed. Copy A = a (columns), copy B = b (rows), |a| = |b| = L.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace rivulon::reference {

// score(L, L) and the origin tag of cell (L, L).
struct ReferenceCell {
  int32_t score;
  int32_t origin;
};
inline ReferenceCell align_copies_reference(const std::string& a, const std::string& b, int32_t gap,
                                            int32_t terminal_gap, int32_t mismatch, int32_t match) {
  const int L = static_cast<int>(a.size());
  std::vector<std::vector<ReferenceCell>> c(L + 1, std::vector<ReferenceCell>(L + 1));
  for (int k = 0; k <= L; ++k) c[0][k] = {k * gap, k};
  for (int j = 1; j <= L; ++j) c[j][0] = {j * gap, j};
  for (int j = 1; j <= L; ++j) {
    for (int k = 1; k <= L; ++k) {
      int d = c[j - 1][k - 1].score + (a[k - 1] == b[j - 1] ? match : mismatch);
      int h = c[j][k - 1].score + (j == L ? terminal_gap : gap);
      int v = c[j - 1][k].score + (k == L ? terminal_gap : gap);
      if (v > h && v > d) c[j][k] = {v, c[j - 1][k].origin};
      else if (h > d) c[j][k] = {h, c[j][k - 1].origin};
      else c[j][k] = {d, c[j - 1][k - 1].origin};
    }
  }
  return c[L][L];
}

// The banded scoring: only cells with |j - k| <= h are computed; a neighbour
// outside the band contributes `out_of_band` in place of its score plus
// penalty, and a path through it has origin -1.
inline ReferenceCell align_copies_banded_reference(const std::string& a, const std::string& b,
                                                   int h, int32_t out_of_band, int32_t gap,
                                                   int32_t terminal_gap, int32_t mismatch,
                                                   int32_t match) {
  const int L = static_cast<int>(a.size());
  auto inside = [&](int j, int k) { return k == 0 || (j == 0 && k <= h) || (k >= j - h && k <= j + h); };
  std::vector<std::vector<ReferenceCell>> c(L + 1, std::vector<ReferenceCell>(L + 1));
  for (int k = 0; k <= L; ++k) c[0][k] = {k * gap, k};
  for (int j = 1; j <= L; ++j) c[j][0] = {j * gap, j};
  for (int j = 1; j <= L; ++j) {
    for (int k = std::max(1, j - h); k <= std::min(L, j + h); ++k) {
      int d = c[j - 1][k - 1].score + (a[k - 1] == b[j - 1] ? match : mismatch);
      int hz = inside(j, k - 1) ? c[j][k - 1].score + (j == L ? terminal_gap : gap) : out_of_band;
      int v = inside(j - 1, k) ? c[j - 1][k].score + (k == L ? terminal_gap : gap) : out_of_band;
      if (v > hz && v > d) c[j][k] = {v, inside(j - 1, k) ? c[j - 1][k].origin : -1};
      else if (hz > d) c[j][k] = {hz, inside(j, k - 1) ? c[j][k - 1].origin : -1};
      else c[j][k] = {d, c[j - 1][k - 1].origin};
    }
  }
  return c[L][L];
}

}  // namespace rivulon::reference
