// Significance model: for each motif length, the screening window (length w
// and match floor k0), the good-window quota a candidate copy must meet, and
// the bad-run allowance.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "align/sequence.h"

namespace rivulon {

// n choose k as a double: 1.0 multiplied, for b = k .. 1, by the quotient
// (n - k + b) / b (quotient formed first). 1.0 for k <= 0; 0 for 0 <= n < k.
double binomial_coefficient(int32_t k, int32_t n);

// How one definition screens: the rule its detector hands to the model.
struct ScreeningRule {
  // Level per position that sets the window (the target score of a copy is L
  // times this level) and, when positive, also the window match floor: the
  // largest count below w that stays under level * w. Zero: both follow the
  // run's similarity threshold instead.
  double fixed_level;
  int32_t window_cap;         // longest window (when freeze_at is 0)
  double freeze_at;           // when positive: a window this long or longer ...
  int32_t frozen_window;      // ... becomes this one and stays for every longer motif
  int32_t bad_run_factor;     // c of the bad-run allowance trunc(c * w * ln L)
};

struct WindowChoice {
  int32_t w = 0;        // window length; below 2 means no quota exists
  int32_t k0 = 0;       // a window is good with at least k0 matches
  float hit = 0.0f;     // window hit probability P of a random sequence
  bool frozen = false;  // the window reached the rule's freeze
};

// Window length and match floor for a motif length L >= 4: `t` is the
// similarity threshold (not read when the rule fixes the level), `p` the
// Match probability. Pure function; the freeze is kept by the caller.
WindowChoice choose_window(int32_t L, const Scoring& scoring, double t, double p,
                           const ScreeningRule& rule);

// trunc(c * w * ln L) with the rule's factor c.
int32_t bad_run_allowance(int32_t L, int32_t w, const ScreeningRule& rule);

// Tables of the match-count distribution, allocated once per run for the
// maximum motif length M and reused by every call of window_quota.
struct SignificanceTables {
  int32_t columns = 0;          // M: columns per row, and entries of `distribution`
  std::vector<double> table_a;  // window-state table A: (M + 1) rows of M doubles
  std::vector<double> table_b;  // window-state table B: (M + 1) rows of M doubles
  std::vector<double> distribution;  // entry j: 2^w times P(exactly j good windows)
  int32_t last_w = 0;           // w of the previous call, 0 at the start of the run
  bool current_is_a = false;    // which table holds the latest distribution (B at start)

  explicit SignificanceTables(int32_t max_motif);
  double* row(bool of_a, int32_t r) { return (of_a ? table_a.data() : table_b.data()) + static_cast<std::size_t>(r) * static_cast<std::size_t>(columns); }
};

// Good-window quota for motif length L >= 4 with window w and floor k0: the
// smallest number of good windows among the L - w + 1 windows of one copy that
// a random sequence reaches rarely enough. Calls within one detection come for
// L = 4, 5, ... in order; a call with the previous call's w extends the
// previous distribution by one window. Nothing when w < 2 or no quota exists.
std::optional<int32_t> window_quota(int32_t L, int32_t w, int32_t k0, SignificanceTables& tables,
                                    double p);

// Quota chosen from `distribution` (entries 0..L - w + 1, scaled by 2^w);
// nothing when none qualifies.
std::optional<int32_t> pick_quota(int32_t L, int32_t w, const double* distribution);

// The screening parameters of one motif length.
struct WindowParameters {
  int32_t w;          // window length
  int32_t k0;         // window match floor
  int32_t quota;      // good-window quota kmin
  int32_t allowance;  // bad-run allowance
  bool operator==(const WindowParameters&) const = default;
};

// Hands out the window parameters of L = 1, 2, ..., M in increasing order for
// one detection, keeping a frozen window from length to length.
class WindowSchedule {
 public:
  WindowSchedule(const ScreeningRule& rule, const Scoring& scoring, double t, double p,
                 SignificanceTables& tables)
      : rule_(rule), scoring_(scoring), t_(t), p_(p), tables_(tables) {}

  // L <= 3: w = k0 = L and quota 1 without consulting the model; otherwise
  // choose_window (skipped once the window froze) and window_quota. Nothing
  // when no quota exists; window() then names the window that had none.
  std::optional<WindowParameters> at(int32_t L);

  int32_t window() const { return w_; }

 private:
  ScreeningRule rule_;
  Scoring scoring_;
  double t_, p_;
  SignificanceTables& tables_;
  bool frozen_ = false;
  int32_t w_ = 0, k0_ = 0;
};

// What a WindowSchedule hands out for L = 1 .. M: lengths[L - 1] for every L
// up to the first without a quota, if one comes before M.
struct ScheduledParameters {
  std::vector<WindowParameters> lengths;
  int32_t longest = 0;         // M: the lengths were asked up to it
  bool ended = false;          // length lengths.size() + 1 has no quota ...
  int32_t missing_window = 0;  // ... and this window (WindowSchedule::window)
};

// The schedule of motif lengths 1 .. M for a rule, scoring, similarity
// threshold t and match probability p. The schedules of the last few sets of
// these are kept for the process (a length's parameters do not depend on M),
// so that a detection asking again, such as one of a shuffled copy of the
// same stretch, does not work them out again. Safe to call from any thread.
std::shared_ptr<const ScheduledParameters> window_schedule(const ScreeningRule& rule, const Scoring& scoring,
                                                           double t, double p, int32_t M);

}  // namespace rivulon
