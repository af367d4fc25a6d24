#include "detect/definition2.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace rivulon {
namespace {

class Definition2Test : public ::testing::Test {
 protected:
  void screen(const std::string& seq, int32_t L, int32_t w, int32_t k0, double t,
              int32_t terminal_gap = -2) {
    s = seq;
    marks.assign(s.size(), 0.5f);  // junk: every entry the scan passes must be cleared
    const DetectionInput in{{s.c_str(), n()}, Scoring{1, -1, -2, terminal_gap}, t, 8, 0.25};
    ScreenedMarks screened;
    screen_copies_avg(in, L, WindowParameters{w, k0, 1, 16}, screened, matrix, scratch);
    put_marks(screened, marks.data());
  }
  int32_t n() const { return static_cast<int32_t>(s.size()); }
  std::vector<int> marked() const {
    std::vector<int> at;
    for (size_t i = 0; i < marks.size(); ++i) if (marks[i] == 1.0f) at.push_back(static_cast<int>(i));
    return at;
  }
  void group(int32_t L, double t, int32_t mismatch = -1, int32_t gap = -2) {
    const DetectionInput in{{s.c_str(), n()}, Scoring{1, mismatch, gap, gap}, t, 60, 0.25};
    ASSERT_TRUE(group_around_best_pair(in, L, marks.data(), candidates, matrix, pairs));
  }
  std::string s;
  std::vector<float> marks;
  AlignmentMatrix matrix{60};
  std::vector<uint16_t> scratch;
  CandidateList candidates;
  std::vector<double> pairs;
};

TEST_F(Definition2Test, WorkedExampleMarksTheStretchAfterOneAlignment) {
  screen("TTGACGACGACGACTT", 3, 3, 3, 0.8);
  EXPECT_EQ(marked(), (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
  for (int p = 0; p <= 10; ++p) EXPECT_NE(marks[p], 0.5f) << p;
  group(3, 0.8);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].start, 2);
  EXPECT_EQ(candidates[0].units, 4);
  EXPECT_EQ(candidates[0].similarity, 1.0f);
}

TEST_F(Definition2Test, FailedAlignmentMarksNothingAndTheNextCopyIsAlignedAgain) {
  // Windows of q = 0, 1, 2 are good but their copies reach only 1/3; q = 3 aligns perfectly.
  screen("ACGACTACT", 3, 3, 2, 0.9);
  EXPECT_EQ(marked(), (std::vector<int>{3}));
}

TEST_F(Definition2Test, CopyWhoseAlignmentBeginsWithAGapCanBeMarked) {
  screen("AACGACGT", 4, 4, 1, 0.2, 0);
  EXPECT_EQ(marked(), (std::vector<int>{0}));
}

// Copy A = X Y and copy B = Y Z: only an alignment shifted by |X| bases, far
// outside the band, pairs the two Y. Definition 2 aligns fully up to L = 19.
TEST_F(Definition2Test, FullAlignmentUpTo19AndBandedFrom20) {
  std::mt19937 rng(8);
  for (int L : {19, 20}) {
    const int shift = L / 2;  // 9 and 10, beyond the band half-width of 8
    // Y over A and C, X and Z over G and T: the two Y are the only matches.
    std::string x, y, z;
    for (int i = 0; i < shift; ++i) x += "GT"[rng() % 2];
    for (int i = 0; i < L - shift; ++i) y += "AC"[rng() % 2];
    for (int i = 0; i < shift; ++i) z += "GT"[rng() % 2];
    s = x + y + y + z;
    marks.assign(s.size(), 0.0f);
    std::vector<uint16_t> ring;
    // Window floor 0: the copy qualifies. Gap -1, terminal gap 0, mismatch -5,
    // match 2: the shifted alignment scores 2 (L - shift) - shift, 11/19 and 10/20.
    const DetectionInput in{{s.c_str(), n()}, Scoring{2, -5, -1, 0}, 0.5, 60, 0.25};
    ScreenedMarks screened;
    screen_copies_avg(in, L, WindowParameters{L, 0, 1, 100}, screened, matrix, ring);
    put_marks(screened, marks.data());
    EXPECT_EQ(marks[0], L == 19 ? 1.0f : 0.0f) << L;
  }
}

// Copies of length 20 whose adjacent pairs share the given numbers of bases
// (mismatch 0, so a pair's similarity is matches / 20), then 40 unrelated bases.
std::string copies_with_pair_matches(const std::vector<int>& matches) {
  std::mt19937 rng(99);
  const char bases[] = "ACGT";
  std::string copy;
  for (int i = 0; i < 20; ++i) copy += bases[rng() % 4];
  std::string s = copy;
  for (int m : matches) {
    std::vector<int> order(20);
    for (int i = 0; i < 20; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (int i = 0; i < 20 - m; ++i) {
      char& c = copy[static_cast<size_t>(order[static_cast<size_t>(i)])];
      c = bases[(std::string(bases).find(c) + 1 + rng() % 3) % 4];
    }
    s += copy;
  }
  for (int i = 0; i < 40; ++i) s += bases[rng() % 4];
  return s;
}

TEST_F(Definition2Test, WidenedRunKeptWhenItsPairsAverageTheLevel) {
  s = copies_with_pair_matches({17, 18, 16});
  marks.assign(s.size(), 0.0f);
  for (int at : {0, 20, 40}) marks[at] = 1.0f;
  group(20, 0.8, 0, -5);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].start, 0);
  EXPECT_EQ(candidates[0].units, 4);
  EXPECT_EQ(candidates[0].similarity, static_cast<float>((0.85 + 0.9 + 0.8) / 3));
}

TEST_F(Definition2Test, RunTrimmedAroundTheCore) {
  s = copies_with_pair_matches({18, 10, 19, 12});
  marks.assign(s.size(), 0.0f);
  for (int at : {0, 20, 40, 60}) marks[at] = 1.0f;
  group(20, 0.8, 0, -5);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].start, 40);
  EXPECT_EQ(candidates[0].units, 2);
  EXPECT_EQ(candidates[0].similarity, 0.95f);
}

TEST_F(Definition2Test, PairEndingAtTheLastBaseIsNotAligned) {
  s = "ACGTTGCAACGTTGCAACGTTGCA";  // three identical copies of 8, n = 24
  marks.assign(s.size(), 0.0f);
  marks[0] = marks[8] = 1.0f;
  group(8, 0.8);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].units, 2);  // the pair at 8 ends at base 23 and is skipped
}

TEST_F(Definition2Test, SmallRepeatsDroppedFrom100Bases) {
  for (int length : {99, 100}) {
    s = "ACGACGACGACG" + std::string(static_cast<size_t>(length - 12), 'T');
    marks.assign(s.size(), 0.0f);
    for (int at : {0, 3, 6}) marks[at] = 1.0f;
    candidates.clear();
    group(3, 0.8);
    EXPECT_EQ(candidates.size(), length < 100 ? 1u : 0u) << length;
  }
}

TEST_F(Definition2Test, BestPairBelowTheLevelGivesNothing) {
  s = copies_with_pair_matches({15, 14});
  marks.assign(s.size(), 0.0f);
  for (int at : {0, 20}) marks[at] = 1.0f;
  group(20, 0.8, 0, -5);
  EXPECT_TRUE(candidates.empty());
}

}  // namespace
}  // namespace rivulon
