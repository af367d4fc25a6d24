#include "stats/significance.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <optional>
#include <vector>

#include "detect/detection.h"
#include "reference/significance_reference.h"

namespace rivulon {
namespace {

// The screening rules the detectors hand to the model, by definition.
const ScreeningRule& rule(int definition) {
  return definition == 1 ? kDefinition1Screening
         : definition == 2 ? kDefinition2Screening
                           : kDefinition3Screening;
}

TEST(BinomialCoefficient, EdgeValues) {
  EXPECT_EQ(binomial_coefficient(0, 5), 1.0);
  EXPECT_EQ(binomial_coefficient(2, 5), 10.0);
  EXPECT_EQ(binomial_coefficient(6, 5), 0.0);
  EXPECT_EQ(binomial_coefficient(-1, 0), 1.0);
}

TEST(ChooseWindow, ScoreRuleWithoutShrinking) {
  WindowChoice c = choose_window(10, Scoring{2, -7, -7, 0}, 0.8, 0.25, rule(1));
  EXPECT_EQ(c.w, 5);
  EXPECT_EQ(c.k0, 4);
  EXPECT_EQ(c.hit, 0.015625f);
  EXPECT_EQ(bad_run_allowance(10, c.w, rule(1)), 34);
  WindowChoice four = choose_window(4, Scoring{2, -7, -7, 0}, 0.8, 0.25, rule(1));
  EXPECT_EQ(four.w, 2);
  EXPECT_EQ(four.k0, 1);
  EXPECT_EQ(four.hit, 0.4375f);
}

TEST(ChooseWindow, ShrinksWhileTheHitProbabilityIsTooSpread) {
  WindowChoice c = choose_window(5, Scoring{2, -3, -5, 0}, 50 * 0.01, 0.3, rule(1));
  EXPECT_EQ(c.w, 2);
  EXPECT_EQ(c.k0, 1);
  EXPECT_FLOAT_EQ(c.hit, 0.51f);
}

TEST(ChooseWindow, CappedAtTwentyForDefinitionsOneAndTwo) {
  for (int definition : {1, 2}) {
    WindowChoice c = choose_window(40, Scoring{2, -7, -7, 0}, 0.8, 0.25, rule(definition));
    EXPECT_EQ(c.w, 20);
    EXPECT_EQ(c.k0, 17);
    EXPECT_FALSE(c.frozen);
  }
}

TEST(ChooseWindow, DefinitionThreeFreezesFromAStartingWindowOf34) {
  // Match 0: the gap bound is L, so the starting window is ceil(L / 2).
  EXPECT_FALSE(choose_window(66, Scoring{0, -7, -7, 0}, 50, 0.25, rule(3)).frozen);  // 33: no freeze
  WindowChoice c = choose_window(67, Scoring{0, -7, -7, 0}, 50, 0.25, rule(3));
  EXPECT_TRUE(c.frozen);
  EXPECT_LE(c.w, 33);
  // The count rule: the largest k below w with k < 0.7 w.
  WindowChoice small = choose_window(10, Scoring{0, -7, -7, 0}, 50, 0.25, rule(3));
  EXPECT_EQ(small.k0, static_cast<int>(std::ceil(0.7 * small.w)) - 1);
}

TEST(ChooseWindow, GapPenaltyZeroLeavesNoWindow) {
  EXPECT_LT(choose_window(4, Scoring{2, -7, 0, 0}, 0.5, 0.25, rule(1)).w, 2);
  EXPECT_LT(choose_window(4, Scoring{1, -7, 0, 0}, 0.5, 0.25, rule(1)).w, 2);
}

TEST(BadRunAllowance, ShortMotifs) {
  EXPECT_EQ(bad_run_allowance(1, 1, rule(1)), 0);
  EXPECT_EQ(bad_run_allowance(2, 2, rule(1)), 4);
  EXPECT_EQ(bad_run_allowance(3, 3, rule(1)), 9);
  EXPECT_EQ(bad_run_allowance(2, 2, rule(2)), 6);
  EXPECT_EQ(bad_run_allowance(3, 3, rule(3)), 16);
}

bool has_quota(int L, int w, int k0) {
  SignificanceTables tables(40);
  return window_quota(L, w, k0, tables, 0.25).has_value();
}

TEST(WindowQuota, FreshStartForL4) {
  SignificanceTables tables(10);
  EXPECT_EQ(window_quota(4, 2, 1, tables, 0.25), 3);
  const double expected[] = {0.316406, 0.210938, 0.316406, 0.15625};
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(tables.distribution[j] / 4, expected[j], 1e-6) << j;
}

TEST(WindowQuota, ContinuationEqualsFreshStart) {
  SignificanceTables fresh(20);
  EXPECT_EQ(window_quota(10, 5, 4, fresh, 0.25), 2);
  EXPECT_NEAR(fresh.distribution[0] / 32, 0.944097, 1e-6);
  EXPECT_NEAR(fresh.distribution[1] / 32, 0.032236, 1e-6);
  EXPECT_NEAR(fresh.distribution[2] / 32, 0.014245, 1e-6);

  SignificanceTables continued(20);
  window_quota(9, 5, 4, continued, 0.25);
  EXPECT_EQ(window_quota(10, 5, 4, continued, 0.25), 2);
  for (int j = 0; j <= 6; ++j) {
    EXPECT_NEAR(continued.distribution[j], fresh.distribution[j], 1e-12) << j;
  }
}

TEST(WindowQuota, LongerMotifs) {
  SignificanceTables a(30);
  EXPECT_EQ(window_quota(20, 10, 8, a, 0.25), 1);
  SignificanceTables b(30);
  EXPECT_EQ(window_quota(12, 3, 2, b, 0.3), 9);
}

TEST(WindowQuota, DistributionSumsToTwoToTheW) {
  SignificanceTables tables(60);
  for (int L = 4; L <= 60; ++L) {
    const int w = 2 + L / 7;
    window_quota(L, w, w - 1, tables, 0.3);
    double total = 0;
    for (int j = 0; j <= L - w + 1; ++j) total += tables.distribution[j];
    EXPECT_NEAR(total / std::pow(2.0, w), 1.0, 1e-9) << L;
  }
}

TEST(WindowQuota, WindowBelowTwoHasNoQuota) {
  EXPECT_FALSE(has_quota(4, 0, 0));
  EXPECT_FALSE(has_quota(4, 1, 1));
  EXPECT_TRUE(has_quota(4, 2, 1));
}

TEST(PickQuota, SignificanceLevelIsCappedAndFloored) {
  // A distribution with all mass on n good windows returns n whatever the level.
  // With all mass on 0 windows the quota is 1 when level > 0.
  double dist[64] = {};
  dist[0] = 4.0;  // w = 2: 2^w
  EXPECT_EQ(pick_quota(4, 2, dist), 1);
  // Mass just above the level at the top column: for n <= 5 the level is 0.05.
  double top[64] = {};
  top[3] = 4.0 * 0.051;
  top[0] = 4.0 * 0.949;
  EXPECT_EQ(pick_quota(4, 2, top), 3);
  top[3] = 4.0 * 0.049;
  top[0] = 4.0 * 0.951;
  EXPECT_EQ(pick_quota(4, 2, top), 1);
  // n = 10 (level 0.6^10 = 0.0060466) and n = 40 (level held at 5e-8).
  double mid[64] = {};
  mid[10] = 8.0 * 0.0061;
  mid[0] = 8.0 * (1 - 0.0061);
  EXPECT_EQ(pick_quota(12, 3, mid), 10);
  mid[10] = 8.0 * 0.0060;
  mid[0] = 8.0 * (1 - 0.0060);
  EXPECT_EQ(pick_quota(12, 3, mid), 1);
  double deep[64] = {};
  deep[40] = 4.0 * 6e-8;
  deep[0] = 4.0 * (1 - 6e-8);
  EXPECT_EQ(pick_quota(41, 2, deep), 40);
  deep[40] = 4.0 * 4e-8;
  deep[0] = 4.0 * (1 - 4e-8);
  EXPECT_EQ(pick_quota(41, 2, deep), 1);
}

// The significance level never goes below one ulp above 5e-8: a tail of
// exactly that probability is not rare enough, one ulp more is.
TEST(PickQuota, FloorSitsOneUlpAbove5e8) {
  const double floor = std::nextafter(5e-8, 1.0);
  double dist[64] = {};  // L = 41, w = 2: 40 windows, scale 2^2
  dist[38] = 4.0;
  dist[39] = 4.0 * floor;
  EXPECT_EQ(pick_quota(41, 2, dist), 39);
  dist[39] = 4.0 * std::nextafter(floor, 1.0);
  EXPECT_EQ(pick_quota(41, 2, dist), 40);
}

TEST(WindowSchedule, ShortMotifsNeedNoModel) {
  SignificanceTables tables(10);
  WindowSchedule schedule(rule(1), Scoring{2, -7, -7, 0}, 0.8, 0.25, tables);
  for (int L = 1; L <= 3; ++L) {
    WindowParameters p = schedule.at(L).value();
    EXPECT_EQ(p.w, L);
    EXPECT_EQ(p.k0, L);
    EXPECT_EQ(p.quota, 1);
  }
  // The short motifs leave the tables as they were: L = 4 comes out as from a fresh start.
  const WindowParameters after_short = schedule.at(4).value();
  SignificanceTables fresh_tables(10);
  WindowSchedule fresh(rule(1), Scoring{2, -7, -7, 0}, 0.8, 0.25, fresh_tables);
  const WindowParameters direct = fresh.at(4).value();
  EXPECT_EQ(after_short.w, direct.w);
  EXPECT_EQ(after_short.k0, direct.k0);
  EXPECT_EQ(after_short.quota, direct.quota);
  EXPECT_EQ(after_short.allowance, direct.allowance);
}

TEST(WindowSchedule, FrozenWindowKeptWhileQuotaRecomputed) {
  SignificanceTables tables(100);
  WindowSchedule schedule(rule(3), Scoring{0, -7, -7, 0}, 50, 0.25, tables);
  WindowParameters at67{}, at90{};
  for (int L = 1; L <= 90; ++L) {
    WindowParameters p = schedule.at(L).value();
    if (L == 67) at67 = p;
    if (L == 90) at90 = p;
  }
  EXPECT_EQ(at67.w, at90.w);
  EXPECT_EQ(at67.k0, at90.k0);
  EXPECT_GT(at90.allowance, at67.allowance);
}

// The distributions window_quota extends from length to length (its slides
// in vector lanes where the processor has them, its sums a row at a time)
// against the recurrence worked out afresh a column at a time: the same bits
// and quotas, along the schedules of every definition (a window that changes,
// then freezes).
TEST(WindowQuota, SameBitsAsTheRecurrenceColumnByColumn) {
  for (int definition = 1; definition <= 3; ++definition) {
    for (const double p : {0.25, 0.3125, 0.47}) {
      const int32_t M = 160;
      SignificanceTables tables(M);
      WindowSchedule schedule(rule(definition), Scoring{2, -7, -7, -3}, definition == 3 ? 50 : 0.8, p, tables);
      for (int32_t L = 1; L <= M; ++L) {
        const std::optional<WindowParameters> wp = schedule.at(L);
        ASSERT_TRUE(wp.has_value());
        if (L <= 3 || L % 3 != 0) continue;  // the reference is slow: every third length
        const std::vector<double> want = reference::good_window_distribution(L, wp->w, wp->k0, p);
        for (size_t j = 0; j < want.size(); ++j) {
          ASSERT_EQ(std::bit_cast<uint64_t>(tables.distribution[j]), std::bit_cast<uint64_t>(want[j]))
              << "definition " << definition << " p " << p << " L " << L << " j " << j;
        }
        ASSERT_EQ(wp->quota, pick_quota(L, wp->w, want.data()));
      }
    }
  }
}

// The parameters of L = 1 .. M as a detection's frame reads them from the
// kept schedule (nothing from the first length without a quota on), and as a
// fresh WindowSchedule hands them out, with the window that had none.
using Handed = std::vector<std::optional<WindowParameters>>;
std::pair<Handed, int32_t> kept(const ScreeningRule& r, const Scoring& s, double t, double p, int32_t M) {
  const std::shared_ptr<const ScheduledParameters> got = window_schedule(r, s, t, p, M);
  Handed out;
  for (int32_t L = 1; L <= M; ++L) {
    out.push_back(static_cast<size_t>(L) <= got->lengths.size() ? std::optional(got->lengths[static_cast<size_t>(L) - 1])
                                                                : std::nullopt);
    if (!out.back()) return {out, got->missing_window};
  }
  return {out, 0};
}
std::pair<Handed, int32_t> fresh(const ScreeningRule& r, const Scoring& s, double t, double p, int32_t M) {
  SignificanceTables tables(M);
  WindowSchedule schedule(r, s, t, p, tables);
  Handed out;
  for (int32_t L = 1; L <= M; ++L) {
    out.push_back(schedule.at(L));
    if (!out.back()) return {out, schedule.window()};
  }
  return {out, 0};
}

// Kept schedules asked for in turn with longer and shorter M, other match
// probabilities and thresholds, more parameter sets than are kept, and a
// scoring whose window has no quota: each time what a fresh schedule gives.
TEST(WindowScheduleKept, SameAsAFreshScheduleWhateverWasAskedBefore) {
  for (int definition = 1; definition <= 3; ++definition) {
    for (const Scoring& s : {Scoring{2, -7, -7, -3}, Scoring{2, -7, 0, -3}}) {
      for (const int32_t M : {60, 20, 150, 60, 150}) {
        for (const double p : {0.25, 0.3, 0.35, 0.4}) {
          const double t = definition == 3 ? 50 : 0.8;
          ASSERT_EQ(kept(rule(definition), s, t, p, M), fresh(rule(definition), s, t, p, M))
              << "M " << M << " definition " << definition << " p " << p << " gap " << s.gap;
        }
      }
    }
  }
}

}  // namespace
}  // namespace rivulon
