#include "stats/significance.h"

#include <algorithm>
#include <cmath>

namespace rivulon {

namespace {

constexpr double kLevelCap = 0.05;
constexpr double kLevelFloor = 5.0000000000000004e-08;

// Largest count m below `length` whose score m * match + (length - m) * penalty
// falls short of `target`; `length` itself when even a perfect score does.
// With a positive target the walk ends at 0 at the latest; it never goes below.
int32_t largest_short_count(int32_t length, int32_t match, int32_t penalty, double target) {
  if (static_cast<double>(int64_t{length} * match) < target) return length;
  int32_t m = length;
  do {
    --m;
  } while (m > 0 && !(static_cast<double>(int64_t{m} * match + int64_t{length - m} * penalty) < target));
  return m;
}

// Window match floor at a fixed level: the largest k below w with k < level * w.
int32_t level_floor(int32_t w, double level) {
  double limit = level * w;
  if (w < limit) return w;
  int32_t k = w;
  do {
    --k;
  } while (!(k < limit));
  return k;
}

// Probability that a window of w comparisons holds at least k0 matches, summed
// in single precision as the model prescribes.
float window_hit_probability(int32_t w, int32_t k0, double p) {
  float sum = 0.0f;
  for (int32_t k = k0; k <= w; ++k) {
    double term = binomial_coefficient(k, w) * std::pow(p, k) * std::pow(1 - p, w - k);
    sum = static_cast<float>(static_cast<double>(sum) + term);
  }
  return sum;
}

}  // namespace

double binomial_coefficient(int32_t k, int32_t n) {
  double value = 1.0;
  for (int32_t b = k; b >= 1; --b) {
    double quotient = static_cast<double>(n - k + b) / b;
    value *= quotient;
  }
  return value;
}

WindowChoice choose_window(int32_t L, const Scoring& scoring, double t, double p,
                           const ScreeningRule& rule) {
  WindowChoice choice;
  const bool fixed = rule.fixed_level > 0;
  const double per_position = fixed ? rule.fixed_level : t;
  int32_t m1 = largest_short_count(L, scoring.match, scoring.gap, L * per_position);
  int32_t half = static_cast<int32_t>(std::ceil(L * 0.5));
  int32_t w = std::min(m1, half);
  if (rule.freeze_at > 0) {
    if (w >= rule.freeze_at) {
      w = rule.frozen_window;
      choice.frozen = true;
    }
  } else {
    w = std::min(w, rule.window_cap);
  }
  if (w < 2) {  // no quota exists; window_quota says so
    choice.w = w;
    choice.k0 = w;
    return choice;
  }
  for (;;) {
    int32_t k0 = fixed ? level_floor(w, rule.fixed_level)
                       : largest_short_count(w, scoring.match, scoring.mismatch, w * t);
    float hit = window_hit_probability(w, k0, p);
    choice.w = w;
    choice.k0 = k0;
    choice.hit = hit;
    float spread = 2.0f * hit * (1.0f - hit);
    if (!(spread > 1.0 / w)) break;
    --w;
  }
  return choice;
}

int32_t bad_run_allowance(int32_t L, int32_t w, const ScreeningRule& rule) {
  return static_cast<int32_t>(static_cast<double>(rule.bad_run_factor * w) *
                              std::log(static_cast<double>(L)));
}

SignificanceTables::SignificanceTables(int32_t max_motif)
    : columns(max_motif),
      table_a(static_cast<size_t>(max_motif + 1) * static_cast<size_t>(max_motif), 0.0),
      table_b(static_cast<size_t>(max_motif + 1) * static_cast<size_t>(max_motif), 0.0),
      distribution(static_cast<size_t>(max_motif), 0.0) {}

std::optional<int32_t> window_quota(int32_t L, int32_t w, int32_t k0, SignificanceTables& tables,
                                    double p) {
  if (w < 2) return std::nullopt;
  const int32_t n = L - w + 1;
  const int32_t cols = tables.columns;
  if (n + 1 > cols || 2 * w > cols + 1) return std::nullopt;  // cannot happen for L <= M
  std::fill(tables.distribution.begin(), tables.distribution.begin() + (n + 1), 0.0);

  int32_t steps;
  if (w != tables.last_w) {
    // Fresh start: the distribution of the first window alone.
    tables.current_is_a = false;
    for (int32_t r = 0; r < 2 * w; ++r) {
      std::fill(tables.row(true, r), tables.row(true, r) + cols, 0.0);
      std::fill(tables.row(false, r), tables.row(false, r) + cols, 0.0);
    }
    for (int32_t h = 0; h < w; ++h) {
      for (int32_t e = 0; e <= 1; ++e) {
        double value = binomial_coefficient(h, w - 1) * std::pow(1 - p, w - h - e) *
                       std::pow(p, h + e) / std::pow(0.5, w);
        tables.row(false, 2 * h + e)[h + e >= k0 ? 1 : 0] = value;
      }
    }
    steps = n - 1;
  } else {
    steps = 1;  // the previous distribution extended by one window
  }
  tables.last_w = w;

  const double q = 1 - p;
  for (int32_t step = 0; step < steps; ++step) {
    const bool src_a = tables.current_is_a;
    for (int32_t h = 0; h < w; ++h) {
      for (int32_t e = 0; e <= 1; ++e) {
        const int32_t s = (h + e >= k0) ? 1 : 0;
        double* dst = tables.row(!src_a, 2 * h + e);
        for (int32_t j = 0; j < s; ++j) dst[j] = 0.0;
        // Sliding the window by one: the state (h, e) is reached from the
        // states listed below; terms are added in this order, then divided by w - 1.
        if (e == 0) {
          const double* s0 = tables.row(src_a, 2 * h);
          const double* s1 = tables.row(src_a, 2 * h + 1);
          const double* s2 = h >= 1 ? tables.row(src_a, 2 * h - 1) : nullptr;
          const double* s3 = h >= 1 ? tables.row(src_a, 2 * h - 2) : nullptr;
          const double stay = w - h - 1, enter = w - h;
          for (int32_t j = s; j <= n; ++j) {
            double sum = stay * s0[j - s] * q;
            sum += stay * s1[j - s] * q;
            if (h >= 1) {
              sum += enter * s2[j - s] * p;
              sum += enter * s3[j - s] * p;
            }
            dst[j] = sum / (w - 1);
          }
        } else {
          const double* s0 = tables.row(src_a, 2 * h + 1);
          const double* s1 = tables.row(src_a, 2 * h);
          const double* s2 = h + 1 < w ? tables.row(src_a, 2 * h + 2) : nullptr;
          const double* s3 = h + 1 < w ? tables.row(src_a, 2 * h + 3) : nullptr;
          const double keep = h, next = h + 1;
          for (int32_t j = s; j <= n; ++j) {
            double sum = keep * s0[j - s] * p;
            sum += keep * s1[j - s] * p;
            if (h + 1 < w) {
              sum += next * s2[j - s] * q;
              sum += next * s3[j - s] * q;
            }
            dst[j] = sum / (w - 1);
          }
        }
      }
    }
    tables.current_is_a = !src_a;
  }

  for (int32_t j = 0; j <= n; ++j) {
    double total = 0.0;
    for (int32_t r = 0; r < 2 * w; ++r) total += tables.row(tables.current_is_a, r)[j];
    tables.distribution[static_cast<size_t>(j)] = total;
  }
  return pick_quota(L, w, tables.distribution.data());
}

std::optional<int32_t> pick_quota(int32_t L, int32_t w, const double* distribution) {
  const int32_t n = L - w + 1;
  if (n < 0) return std::nullopt;
  double d = std::pow(0.6, n);
  if (d >= kLevelCap) {
    d = kLevelCap;
  } else if (d < kLevelFloor) {
    d = kLevelFloor;
  }
  const double scale = std::pow(2.0, w);
  double total = 0.0;
  for (int32_t c = n; c >= 0; --c) {
    total += distribution[c];
    if (total / scale > d) return c == n ? n : c + 1;
  }
  return std::nullopt;
}

std::optional<WindowParameters> WindowSchedule::at(int32_t L) {
  if (L <= 3) return WindowParameters{L, L, 1, bad_run_allowance(L, L, rule_)};
  if (!frozen_) {
    WindowChoice choice = choose_window(L, scoring_, t_, p_, rule_);
    w_ = choice.w;
    k0_ = choice.k0;
    frozen_ = choice.frozen;
  }
  const std::optional<int32_t> quota = window_quota(L, w_, k0_, tables_, p_);
  if (!quota) return std::nullopt;
  return WindowParameters{w_, k0_, *quota, bad_run_allowance(L, w_, rule_)};
}

}  // namespace rivulon
