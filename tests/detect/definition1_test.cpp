#include "detect/definition1.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "stats/composition.h"

namespace rivulon {
namespace {

// Match 1, mismatch -1, gap and terminal gap -2 unless a test says otherwise.
class Definition1Test : public ::testing::Test {
 protected:
  void screen(const std::string& seq, int32_t L, int32_t w, int32_t k0, int32_t quota,
              int32_t allowance, double t, int32_t terminal_gap = -2) {
    s = seq;
    sim.assign(s.size(), 0.0f);
    screen_copies(input(t, terminal_gap), L, WindowParameters{w, k0, quota, allowance}, sim.data(),
                  matrix, scratch);
  }
  int32_t n() const { return static_cast<int32_t>(s.size()); }
  DetectionInput input(double t = 0.8, int32_t terminal_gap = -2) const {
    return DetectionInput{{s.c_str(), n()}, Scoring{1, -1, -2, terminal_gap}, t, 60, 0.25};
  }
  std::vector<int> marked() const {
    std::vector<int> at;
    for (size_t i = 0; i < sim.size(); ++i) if (sim[i] > 0) at.push_back(static_cast<int>(i));
    return at;
  }
  std::string s;
  std::vector<float> sim;
  AlignmentMatrix matrix{60};
  std::vector<uint16_t> scratch;
  CandidateList candidates;
  CopyPairMemo memo;
};

TEST_F(Definition1Test, WorkedExampleScreensAndGroups) {
  screen("TTGACGACGACGACTT", 3, 3, 3, 1, 9, 0.8);
  EXPECT_EQ(marked(), (std::vector<int>{2, 5, 8}));
  EXPECT_EQ(sim[2], 1.0f);
  group_copies(input(), 3, sim.data(), candidates, matrix, memo);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].start, 2);
  EXPECT_EQ(candidates[0].units, 4);
  EXPECT_EQ(candidates[0].similarity, 1.0f);
  EXPECT_TRUE(marked().empty());
}

TEST_F(Definition1Test, MotifLengthOneAlignsEveryEqualNeighbour) {
  screen("AACCCGTTA", 1, 1, 1, 1, 0, 0.8);
  // No cool-down for L = 1: every q with s[q] = s[q+1] is accepted.
  EXPECT_EQ(marked(), (std::vector<int>{0, 2, 3, 6}));
  EXPECT_EQ(sim[3], 1.0f);
}

TEST_F(Definition1Test, SingleSlotRingNeverDrifts) {
  // ACG is followed by ACG one base further on, but with w = L the drift cannot grow.
  screen("ACGTACGTT", 3, 3, 2, 1, 9, 0.5);
  EXPECT_TRUE(marked().empty());
}

TEST_F(Definition1Test, AlignmentBeginningWithAGapIsNeverAccepted) {
  // AACG against ACGT scores 0.25 (skip A, match ACG, trailing gap free) with origin 1.
  screen("AACGACGT", 4, 4, 1, 1, 100, 0.2, 0);
  EXPECT_TRUE(marked().empty());
}

TEST_F(Definition1Test, CoolDownSkipsTheNextLMinusOnePositions) {
  // With k0 = 1 every window is good; only q = 0, 3, 6 may be aligned.
  screen("ACGACGACGACG", 3, 3, 1, 1, 9, 0.5);
  EXPECT_EQ(marked(), (std::vector<int>{0, 3, 6}));
}

TEST_F(Definition1Test, ShortRunDroppedInLongSequences) {
  s.assign(100, 'A');
  sim.assign(100, 0.0f);
  for (int at : {10, 14, 18}) sim[at] = 1.0f;
  // scanEnd = 25 and 25 - 10 + 4 = 19 < 20: dropped, entries 10..25 zeroed.
  group_copies(input(), 4, sim.data(), candidates, matrix, memo);
  EXPECT_TRUE(candidates.empty());
  EXPECT_TRUE(marked().empty());
}

TEST_F(Definition1Test, EarlyFailureRemovedOnlyAbove100Bases) {
  for (int length : {100, 101}) {
    s = "AAAAAAAACCCC" + std::string(static_cast<size_t>(length - 12), 'G');
    sim.assign(s.size(), 0.0f);
    for (int at : {0, 4, 8, 12}) sim[at] = 1.0f;
    candidates.clear();
    group_copies(input(), 4, sim.data(), candidates, matrix, memo);
    // The third copy (CCCC) fails against the first two at once.
    const bool kept = candidates.size() == 1 && candidates[0].start == 0 && candidates[0].units == 2;
    EXPECT_EQ(kept, length == 100) << length;
    EXPECT_EQ(sim[4], 0.0f);
    EXPECT_EQ(sim[8], 1.0f);  // the failed copy's own start is passed over and keeps its mark
  }
}

TEST_F(Definition1Test, ThreeIdenticalCopiesGrowToThreeUnits) {
  s = "ACGACGACG";
  sim.assign(s.size(), 0.0f);
  sim[0] = 1.0f;
  sim[3] = 1.0f;
  group_copies(input(), 3, sim.data(), candidates, matrix, memo);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].units, 3);
  EXPECT_EQ(candidates[0].similarity, 1.0f);
}

TEST_F(Definition1Test, GrowthPastTheLastBaseNeverMatchesThere) {
  // Marks left near the end make growth align a copy that runs past the last
  // base (positions 14 and 15); those positions match nothing.
  std::vector<char> exact = {'A', 'C', 'G', 'T', 'A', 'C', 'G', 'T', 'A', 'C', 'G', 'T', 'A', 'C', '\0'};
  sim.assign(14, 0.0f);
  for (int at : {0, 4, 8}) sim[at] = 1.0f;
  const DetectionInput in{{exact.data(), 14}, Scoring{1, -1, -2, -2}, 0.8, 60, 0.25};
  group_copies(in, 4, sim.data(), candidates, matrix, memo);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].start, 0);
  EXPECT_EQ(candidates[0].units, 3);  // the fourth copy "AC??" averages 0.5 < 0.65
}

TEST(ScoreNewCopy, FullAlignmentUpTo20AndBandedAbove) {
  // Copy A = X Y, copy B = Y Z with Y over A/C and X, Z over G/T: only an
  // alignment shifted by 10 bases, beyond the band half-width of 8, pairs them.
  AlignmentMatrix matrix(30);
  for (int L : {20, 21}) {
    std::string x(10, 'G'), y, z(10, 'T');
    for (int i = 0; i < L - 10; ++i) y += "AC"[i % 3 == 0];
    const std::string s = x + y + y + z;
    const DetectionInput in{{s.c_str(), static_cast<int32_t>(s.size())}, Scoring{2, -5, -1, 0}, 0.5,
                            30, 0.25};
    const double sim = score_new_copy(in, 0, 1, L, matrix);
    if (L == 20) {
      EXPECT_EQ(sim, 0.5);  // 2 * 10 - 10
    } else {
      EXPECT_LT(sim, 0.0);
    }
  }
}

TEST(ScoreNewCopy, SumsAgainstEveryEarlierCopy) {
  AlignmentMatrix matrix(10);
  const std::string s = "ACGACGACGACG";
  const DetectionInput in{{s.c_str(), 12}, Scoring{2, -1, -2, -2}, 0.8, 10, 0.25};
  EXPECT_EQ(score_new_copy(in, 0, 3, 3, matrix), 6.0);
}

// Sharing alignments between copies with equal bytes changes no bit of the
// sums: arrays of few distinct copies, some running past the end.
TEST(CopyPairMemo, SumsEqualAligningEveryPair) {
  std::mt19937 rng(31);
  AlignmentMatrix matrix(30);
  CopyPairMemo memo;
  for (int round = 0; round < 200; ++round) {
    const int L = 1 + static_cast<int>(rng() % 25);
    std::vector<std::string> kinds(1 + rng() % 3);
    for (std::string& kind : kinds) {
      for (int i = 0; i < L; ++i) kind += "ACGT"[rng() % 4];
    }
    const int copies = 2 + static_cast<int>(rng() % 30);
    std::string s;
    for (int c = 0; c < copies; ++c) s += kinds[rng() % kinds.size()];
    s.resize(s.size() - rng() % static_cast<size_t>(L));  // the last copy may run past the end
    const int32_t n = static_cast<int32_t>(s.size());
    const DetectionInput in{{s.c_str(), n}, Scoring{2, -7, -static_cast<int32_t>(1 + rng() % 7), -3},
                            0.8, 30, 0.25};
    memo.reset(0, L);
    for (int u = 1; u < copies; ++u) {
      ASSERT_EQ(memo.score_new_copy(in, u, matrix), score_new_copy(in, 0, u, L, matrix)) << s;
    }
  }
}

// A length screened alone and then put into the table leaves the table as
// the screening on the table does, length after length with the grouping in
// between, on sequences with tandem arrays of several periods side by side
// (where earlier lengths leave marks that later ones read).
TEST(ScreenAlone, PutIntoTheTableEqualsScreeningOnTheTable) {
  std::mt19937 rng(5);
  int screened_again = 0;
  for (int round = 0; round < 40; ++round) {
    std::string s;
    while (s.size() < 1500) {
      std::string unit;
      for (int i = 0, L = 1 + static_cast<int>(rng() % 12); i < L; ++i) unit += "ACGT"[rng() % 4];
      for (int c = 0, copies = 2 + static_cast<int>(rng() % 8); c < copies; ++c) {
        for (const char base : unit) s += rng() % 10 == 0 ? "ACGT"[rng() % 4] : base;
      }
      for (int i = 0, gap = static_cast<int>(rng() % 30); i < gap; ++i) s += "ACGT"[rng() % 4];
    }
    const int32_t n = static_cast<int32_t>(s.size());
    const DetectionInput in{{s.c_str(), n}, Scoring{2, -7, -7, -3}, 0.5 + 0.1 * (round % 4), 40,
                            match_probability(count_bases({s.c_str(), n}), n)};
    std::vector<float> plain(s.size(), 0.0f), alone(s.size(), 0.0f);
    AlignmentMatrix matrix(40), other(40);
    std::vector<uint16_t> ring, other_ring;
    CandidateList from_plain, from_alone;
    CopyPairMemo memo;
    ScreenedMarks screened;
    const auto failure = for_each_motif_length(in, kDefinition1Screening, [&](int32_t L, const WindowParameters& wp) {
      screen_copies(in, L, wp, plain.data(), matrix, ring);
      screen_copies_alone(in, L, wp, screened, other, other_ring);
      screened_again += put_screened(in, L, wp, screened, alone.data(), matrix, ring) ? 1 : 0;
      EXPECT_EQ(alone, plain) << "round " << round << " L " << L;
      group_copies(in, L, plain.data(), from_plain, matrix, memo);
      group_copies(in, L, alone.data(), from_alone, matrix, memo);
      return std::optional<DetectionFailure>();
    });
    ASSERT_FALSE(failure);
    ASSERT_EQ(from_alone.size(), from_plain.size());
  }
  EXPECT_GT(screened_again, 0);  // the path that screens again was taken
}

// Repeated addition in one step gives the bits of adding one at a time.
TEST(AddRepeatedly, EqualsAddingOneAtATime) {
  std::mt19937 rng(37);
  const double values[] = {2.0, 0.5, 1.0, -0.25, 0.95, 1.75, 0.8000000119209290, 3e15, -2.0, 1e-300};
  for (int round = 0; round < 2000; ++round) {
    double s = (rng() % 3 == 0) ? 0.0 : values[rng() % 10] * static_cast<double>(rng() % 1000);
    const double v = values[rng() % 10];
    const int64_t k = static_cast<int64_t>(rng() % 5000);
    double plain = s;
    for (int64_t i = 0; i < k; ++i) plain += v;
    ASSERT_EQ(add_repeatedly(s, v, k), plain) << s << " + " << k << " x " << v;
  }
  // Whole numbers near 2^53, where single additions start to round.
  double plain = 9007199254740000.0;
  for (int i = 0; i < 3000; ++i) plain += 1.0;
  EXPECT_EQ(add_repeatedly(9007199254740000.0, 1.0, 3000), plain);
}

}  // namespace
}  // namespace rivulon
