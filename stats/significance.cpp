#include "stats/significance.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>

// A slide works on every column alike: compiled twice, for AVX2 (four
// columns a step) and for any x86-64, the loader picking one by the
// processor. Lane by lane the arithmetic is the same, so are the bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define RIVULON_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define RIVULON_AVX2_CLONE
#endif

namespace rivulon {

namespace {

// The significance level 0.6^n of a copy with n windows is held within
// [kLevelFloor, kLevelCap]. The floor is one ulp above 5e-8 (5e-8 itself is
// 0x1.ad7f29abcaf48p-25), so a tail of exactly 5e-8 is still rare enough.
constexpr double kLevelCap = 0.05;
constexpr double kLevelFloor = 0x1.ad7f29abcaf49p-25;  // 5.0000000000000004e-08

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

// The good-window quota
// ---------------------
// A copy of length L is screened through its n = L - w + 1 windows of w
// comparisons; under the null model every comparison is a match with
// probability p (the Match probability), independently, and a window is good
// with at least k0 matches. The model follows the windows one at a time:
//
//   state after window i:  (h, e, j)
//     e in {0, 1}   whether the window's first comparison (the next to leave) is a match
//     h in [0, w)   matches among its other w - 1 comparisons
//     j in [0, i]   good windows among windows 1..i
//
// Table row 2h + e, column j, holds F_i(h, e, j) = 2^w P(state); the scaling
// by 2^w keeps the values of long windows away from underflow.
//
// The first window (i = 1), with g = [h + e >= k0]:
//   F_1(h, e, g) = C(w-1, h) (1-p)^(w-h-e) p^(h+e) / 0.5^w
//
// One slide (window i to i + 1): the first comparison leaves; of the w - 1
// others, which becomes the new first is taken as exchangeable (it is a match
// with probability h / (w - 1)); the entering comparison is a match with
// probability p. With q = 1 - p and s = [h + e >= k0] for the new state:
//   F'(h, 0, j) = ( (w-h-1) F(h,0,j-s) q + (w-h-1) F(h,1,j-s) q
//                 + (w-h) F(h-1,1,j-s) p + (w-h) F(h-1,0,j-s) p ) / (w-1)
//   F'(h, 1, j) = ( h F(h,1,j-s) p + h F(h,0,j-s) p
//                 + (h+1) F(h+1,0,j-s) q + (h+1) F(h+1,1,j-s) q ) / (w-1)
// where terms naming h - 1 < 0 or h + 1 = w are absent and F'(h, e, j) = 0
// for j < s. Each product is formed left to right and the terms are added in
// the order written: the quota depends on those last bits.
//
// The distribution of the number J of good windows is D(j) = sum over h, e of
// F_n(h, e, j) = 2^w P(J = j); pick_quota takes the quota from it.
//
// Motif lengths come in increasing order and keep their window while the
// model allows: with the same w as the previous call, n grew by one and one
// slide extends the previous F; otherwise the tables start afresh.

namespace {

// F_1 into table B (which then holds the current F), every other entry 0.
void start_window_states(SignificanceTables& tables, int32_t w, int32_t k0, double p) {
  const int32_t cols = tables.columns;
  tables.current_is_a = false;
  for (int32_t r = 0; r < 2 * w; ++r) {
    std::fill(tables.row(true, r), tables.row(true, r) + cols, 0.0);
    std::fill(tables.row(false, r), tables.row(false, r) + cols, 0.0);
  }
  for (int32_t h = 0; h < w; ++h) {
    for (int32_t e = 0; e <= 1; ++e) {
      const double value = binomial_coefficient(h, w - 1) * std::pow(1 - p, w - h - e) *
                           std::pow(p, h + e) / std::pow(0.5, w);
      tables.row(false, 2 * h + e)[h + e >= k0 ? 1 : 0] = value;
    }
  }
}

// One slide: F' from F into the other table, columns 0..windows.
RIVULON_AVX2_CLONE void slide_window(SignificanceTables& tables, int32_t w, int32_t k0, int32_t windows, double p) {
  const double q = 1 - p;
  const bool from_a = tables.current_is_a;
  for (int32_t h = 0; h < w; ++h) {
    for (int32_t e = 0; e <= 1; ++e) {
      const int32_t shift = (h + e >= k0) ? 1 : 0;  // s: the new window is good
      double* to = tables.row(!from_a, 2 * h + e);
      for (int32_t j = 0; j < shift; ++j) to[j] = 0.0;
      if (e == 0) {
        const double* same0 = tables.row(from_a, 2 * h);
        const double* same1 = tables.row(from_a, 2 * h + 1);
        const double* less1 = h >= 1 ? tables.row(from_a, 2 * h - 1) : nullptr;
        const double* less0 = h >= 1 ? tables.row(from_a, 2 * h - 2) : nullptr;
        const double stay = w - h - 1, enter = w - h;
        for (int32_t j = shift; j <= windows; ++j) {
          double sum = stay * same0[j - shift] * q;
          sum += stay * same1[j - shift] * q;
          if (h >= 1) {
            sum += enter * less1[j - shift] * p;
            sum += enter * less0[j - shift] * p;
          }
          to[j] = sum / (w - 1);
        }
      } else {
        const double* same1 = tables.row(from_a, 2 * h + 1);
        const double* same0 = tables.row(from_a, 2 * h);
        const double* more0 = h + 1 < w ? tables.row(from_a, 2 * h + 2) : nullptr;
        const double* more1 = h + 1 < w ? tables.row(from_a, 2 * h + 3) : nullptr;
        const double keep = h, next = h + 1;
        for (int32_t j = shift; j <= windows; ++j) {
          double sum = keep * same1[j - shift] * p;
          sum += keep * same0[j - shift] * p;
          if (h + 1 < w) {
            sum += next * more0[j - shift] * q;
            sum += next * more1[j - shift] * q;
          }
          to[j] = sum / (w - 1);
        }
      }
    }
  }
  tables.current_is_a = !from_a;
}

// D(j) for j = 0..windows: the column sums of the current F, rows in order
// (added a row at a time into every column, which is the same order).
void sum_window_states(SignificanceTables& tables, int32_t w, int32_t windows) {
  double* total = tables.distribution.data();
  std::fill(total, total + windows + 1, 0.0);
  for (int32_t r = 0; r < 2 * w; ++r) {
    const double* row = tables.row(tables.current_is_a, r);
    for (int32_t j = 0; j <= windows; ++j) total[j] += row[j];
  }
}

}  // namespace

std::optional<int32_t> window_quota(int32_t L, int32_t w, int32_t k0, SignificanceTables& tables,
                                    double p) {
  if (w < 2) return std::nullopt;
  const int32_t windows = L - w + 1;  // n
  if (windows + 1 > tables.columns || 2 * w > tables.columns + 1) {
    return std::nullopt;  // cannot happen for L <= M
  }
  int32_t slides = 1;  // the previous F extended by one window
  if (w != tables.last_w) {
    start_window_states(tables, w, k0, p);
    slides = windows - 1;
  }
  tables.last_w = w;
  for (int32_t i = 0; i < slides; ++i) slide_window(tables, w, k0, windows, p);
  sum_window_states(tables, w, windows);
  return pick_quota(L, w, tables.distribution.data());
}

// The level d = 0.6^n, held within [kLevelFloor, kLevelCap]. Walking c = n,
// n - 1, ..., 0 with the tail T(c) = (D(c) + ... + D(n)) / 2^w = P(J >= c),
// the first c with T(c) > d gives the quota c + 1 (n when T(n) > d already):
// the smallest quota whose tail P(J >= quota) is at most d.
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

namespace {

// A set of parameters a schedule depends on, compared bit for bit.
struct ScheduleKey {
  uint64_t level, freeze_at, t, p;
  int32_t window_cap, frozen_window, bad_run_factor, match, mismatch, gap, terminal_gap;
  bool operator==(const ScheduleKey&) const = default;
};

ScheduleKey key_of(const ScreeningRule& rule, const Scoring& scoring, double t, double p) {
  return {std::bit_cast<uint64_t>(rule.fixed_level), std::bit_cast<uint64_t>(rule.freeze_at),
          std::bit_cast<uint64_t>(t), std::bit_cast<uint64_t>(p), rule.window_cap, rule.frozen_window,
          rule.bad_run_factor, scoring.match, scoring.mismatch, scoring.gap, scoring.terminal_gap};
}

constexpr size_t kKeptSchedules = 8;

}  // namespace

std::shared_ptr<const ScheduledParameters> window_schedule(const ScreeningRule& rule, const Scoring& scoring,
                                                           double t, double p, int32_t M) {
  static std::mutex lock;
  static std::vector<std::pair<ScheduleKey, std::shared_ptr<const ScheduledParameters>>> kept;  // latest last
  const ScheduleKey key = key_of(rule, scoring, t, p);
  {
    std::lock_guard<std::mutex> guard(lock);
    for (auto it = kept.begin(); it != kept.end(); ++it) {
      if (it->first == key && (it->second->longest >= M || it->second->ended)) {
        std::rotate(it, it + 1, kept.end());
        return kept.back().second;
      }
    }
  }
  auto made = std::make_shared<ScheduledParameters>();
  made->longest = M;
  SignificanceTables tables(M);
  WindowSchedule schedule(rule, scoring, t, p, tables);
  for (int32_t L = 1; L <= M; ++L) {
    const std::optional<WindowParameters> parameters = schedule.at(L);
    if (!parameters) {
      made->ended = true;
      made->missing_window = schedule.window();
      break;
    }
    made->lengths.push_back(*parameters);
  }
  std::lock_guard<std::mutex> guard(lock);
  std::erase_if(kept, [&](const auto& entry) { return entry.first == key; });
  if (kept.size() == kKeptSchedules) kept.erase(kept.begin());
  kept.emplace_back(key, made);
  return made;
}

}  // namespace rivulon
