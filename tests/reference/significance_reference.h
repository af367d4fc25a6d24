// Reference for the good-window distribution of stats/significance.h: the
// window-state recurrence worked out afresh for every motif length, one
// column at a time in plain nested vectors, with the same arithmetic in the
// same order (the quota depends on the last bits).
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "stats/significance.h"

namespace rivulon::reference {

// 2^w P(J = j) for j = 0 .. L - w + 1: J the good windows among the L - w + 1
// windows of w comparisons, each a match with probability p, good with at
// least k0 matches.
inline std::vector<double> good_window_distribution(int32_t L, int32_t w, int32_t k0, double p) {
  const int32_t windows = L - w + 1;
  const double q = 1 - p;
  // F[2h + e][j]
  std::vector<std::vector<double>> F(static_cast<size_t>(2 * w),
                                     std::vector<double>(static_cast<size_t>(windows) + 1, 0.0));
  for (int32_t h = 0; h < w; ++h) {
    for (int32_t e = 0; e <= 1; ++e) {
      F[static_cast<size_t>(2 * h + e)][h + e >= k0 ? 1 : 0] =
          binomial_coefficient(h, w - 1) * std::pow(1 - p, w - h - e) * std::pow(p, h + e) / std::pow(0.5, w);
    }
  }
  auto at = [&](int32_t r, int32_t j) { return F[static_cast<size_t>(r)][static_cast<size_t>(j)]; };
  for (int32_t i = 1; i < windows; ++i) {
    std::vector<std::vector<double>> next = F;
    for (int32_t h = 0; h < w; ++h) {
      for (int32_t e = 0; e <= 1; ++e) {
        const int32_t s = h + e >= k0 ? 1 : 0;
        for (int32_t j = 0; j <= windows; ++j) {
          double sum = 0.0;
          if (j >= s) {
            const int32_t f = j - s;
            if (e == 0) {
              sum = (w - h - 1) * at(2 * h, f) * q;
              sum += (w - h - 1) * at(2 * h + 1, f) * q;
              if (h >= 1) {
                sum += (w - h) * at(2 * h - 1, f) * p;
                sum += (w - h) * at(2 * h - 2, f) * p;
              }
            } else {
              sum = h * at(2 * h + 1, f) * p;
              sum += h * at(2 * h, f) * p;
              if (h + 1 < w) {
                sum += (h + 1) * at(2 * h + 2, f) * q;
                sum += (h + 1) * at(2 * h + 3, f) * q;
              }
            }
            sum /= (w - 1);
          }
          next[static_cast<size_t>(2 * h + e)][static_cast<size_t>(j)] = sum;
        }
      }
    }
    F = std::move(next);
  }
  std::vector<double> distribution(static_cast<size_t>(windows) + 1, 0.0);
  for (int32_t j = 0; j <= windows; ++j) {
    for (int32_t r = 0; r < 2 * w; ++r) distribution[static_cast<size_t>(j)] += at(r, j);
  }
  return distribution;
}

}  // namespace rivulon::reference
