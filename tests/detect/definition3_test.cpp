#include "detect/definition3.h"

#include "detect/merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "reference/consensus_reference.h"
#include "test_support.h"

namespace rivulon {
namespace {

// A screening's candidates as an entry per position (0 where none), after
// another screening into the same list (whose entries it must drop).
std::vector<int32_t> screen(const std::string& s, int32_t L, int32_t w, int32_t k0, int32_t quota,
                            int32_t allowance) {
  CandidateStarts candidates;
  std::vector<uint16_t> ring;
  const SequenceView seq{s.c_str(), static_cast<int32_t>(s.size())};
  screen_pattern_candidates(seq, 1, WindowParameters{1, 1, 1, 1000}, candidates, ring);
  screen_pattern_candidates(seq, L, WindowParameters{w, k0, quota, allowance}, candidates, ring);
  std::vector<int32_t> entries(s.size(), 0);
  CandidateStarts::Cursor c;
  size_t walked = 0;
  for (int64_t before = -1; candidates.next(c); before = c.at, ++walked) {
    EXPECT_GT(c.at, before);
    EXPECT_EQ(c.index, walked);
    EXPECT_GE(candidates.good(c), 1);
    EXPECT_LE(candidates.good(c), L - w + 1);
    entries[static_cast<size_t>(c.at)] = candidates.good(c);
  }
  EXPECT_EQ(walked, candidates.size());
  return entries;
}

// The candidate list of an entry per position.
CandidateStarts listed_of(const std::vector<int32_t>& entries) {
  CandidateStarts candidates;
  candidates.clear(0);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] > 0) candidates.push_back(static_cast<int32_t>(i), entries[i]);
  }
  return candidates;
}

// Starts far apart and close together, with counts, through the packed code.
TEST(CandidateStarts, WalkGivesBackWhatWasListed) {
  std::mt19937 rng(5);
  for (const int32_t windows : {1, 7}) {
    CandidateStarts list;
    list.clear(99);
    list.push_back(3, 2);
    list.clear(windows);  // what came before is dropped
    std::vector<std::pair<int32_t, int32_t>> want;
    int64_t at = rng() % 3;
    for (int i = 0; i < 5000; ++i) {
      if (i == 4999) at = 2147483000;  // a gap of five bytes
      want.emplace_back(static_cast<int32_t>(at), windows == 1 ? 1 : 1 + static_cast<int32_t>(rng() % 500));
      list.push_back(want.back().first, want.back().second);
      const uint32_t kind = rng() % 3;  // gaps of one byte, two, three
      at += 1 + (kind == 0 ? rng() % 127 : kind == 1 ? rng() % 16000 : rng() % 400000);
    }
    std::vector<std::pair<int32_t, int32_t>> got;
    CandidateStarts::Cursor c;
    while (list.next(c)) got.emplace_back(static_cast<int32_t>(c.at), list.good(c));
    ASSERT_EQ(got, want);
    EXPECT_FALSE(list.next(c));
    EXPECT_EQ(c.at, want.back().first);
  }
}

TEST(ScreenPatternCandidates, MotifLengthOneUsesTheDrift) {
  // C C at 1-2 is an equal neighbour; T at 4 equals the base two further on.
  std::vector<int32_t> c = screen("ACCGTAT", 1, 1, 1, 1, 0);
  EXPECT_EQ(c, (std::vector<int32_t>{0, 1, 0, 0, 1, 0, 0}));
}

TEST(ScreenPatternCandidates, StartsNeverBeyondNMinus2L) {
  std::mt19937 rng(17);
  for (int round = 0; round < 200; ++round) {
    const int n = 20 + static_cast<int>(rng() % 200);
    const int L = 1 + static_cast<int>(rng() % (n / 2));
    std::string s;
    std::string unit;
    for (int i = 0; i < L; ++i) unit += "ACGT"[rng() % 4];
    for (int i = 0; i < n; ++i) s += (rng() % 5) ? unit[static_cast<size_t>(i % L)] : 'A';
    const int w = std::max(1, L / 2);
    std::vector<int32_t> c = screen(s, L, w, std::max(1, w - 1), 1, 1000);
    for (int i = 0; i < n; ++i) {
      if (c[static_cast<size_t>(i)] != 0) {
        ASSERT_LE(i, n - 2 * L) << L;
      }
    }
  }
}

class FindTest : public ::testing::Test {
 protected:
  void find(const std::vector<int>& starts, int32_t L, int32_t match, double threshold) {
    candidates.assign(s.size(), 0);
    for (int at : starts) candidates[static_cast<size_t>(at)] = 1;
    const DetectionInput in{{s.c_str(), static_cast<int32_t>(s.size())}, Scoring{match, -7, -7, -3},
                            threshold, 60, 0.25};
    group_pattern_candidates(in, L, listed_of(candidates), found, ws);
  }
  std::string s;
  std::vector<int32_t> candidates;
  FoundList found;
  PatternWorkspace ws{50};
};

TEST_F(FindTest, FractionalUnitsAndTheLaterGroupAsRepresentative) {
  const std::string unit = "ACGTACCGTA";
  s = std::string(30, 'T') + unit + unit + unit.substr(0, 5) + std::string(30, 'T');
  find({30, 31, 32, 33, 34, 35}, 10, 2, 30);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].start, 30);
  EXPECT_EQ(found[0].units, 2.5);
  EXPECT_EQ(found[0].score, 50.0);
  EXPECT_EQ(found[0].pattern_start, 35);  // equal counts: the later-created group
}

TEST_F(FindTest, QuickTestDropsShortRegions) {
  s = std::string(40, 'T') + "ACGACGACGACGACGACG" + std::string(40, 'T');
  find({40}, 3, 1, 30);  // region of 40 + ... : 18 repeat bases, H < 30
  EXPECT_TRUE(found.empty());
}

// Copies U U' U U U, U' with one substitution, then T's; the representative
// copy is the mutated one (the only candidate of the top count).
class ConsensusTest : public FindTest {
 protected:
  void SetUp() override {
    const std::string unit = "ACGTACCGTA", mutated = "ACGGACCGTA";
    s = unit + mutated + unit + unit + unit + std::string(20, 'T');
  }
  void find_from_mutated(double threshold) {
    candidates.assign(s.size(), 0);
    candidates[10] = 5;
    candidates[20] = candidates[30] = candidates[40] = 1;
    const DetectionInput in{{s.c_str(), static_cast<int32_t>(s.size())}, Scoring{2, -7, -7, -3},
                            threshold, 60, 0.25};
    group_pattern_candidates(in, 10, listed_of(candidates), found, ws);
  }
};

TEST_F(ConsensusTest, RepresentativeOverTwoCopiesSettlesIt) {
  find_from_mutated(30);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].pattern_start, 10);
  EXPECT_EQ(found[0].score, 53.0);  // 20 + 3 * 11 against the mutated copy; no consensus
  EXPECT_EQ(found[0].units, 4.0);
}

TEST_F(ConsensusTest, ConsensusTakesOverWhenTheRepresentativeFails) {
  find_from_mutated(60);
  ASSERT_EQ(found.size(), 1u);
  // The consensus is the unmutated unit; the local alignment starts after the
  // substitution at 13: 6 * 2 + 3 * 20.
  EXPECT_EQ(found[0].score, 72.0);
  EXPECT_EQ(found[0].start, 14);
  EXPECT_EQ(found[0].units, 3.6);
}

FoundRepeat repeat_of(int32_t start, double units, double score) { return {start, start, units, score}; }

PatternRepeatRecord record(int32_t l, double units, double score) {
  PatternRepeatRecord r{};
  r.motif_length = l;
  r.units = units;
  r.score = score;
  return r;
}

TEST(PatternMerging, SameLengthStartDominance) {
  EXPECT_TRUE(pattern_is_dominated(repeat_of(0, 3.4, 100), record(10, 3, 50), 10, kDefinition3Merge));
  EXPECT_FALSE(pattern_is_dominated(repeat_of(0, 3.5, 100), record(10, 3, 50), 10, kDefinition3Merge));
  EXPECT_FALSE(pattern_is_dominated(repeat_of(0, 3.4, 101), record(10, 3, 50), 10, kDefinition3Merge));
}

TEST(PatternMerging, AlikeLengthsAlwaysReplaceable) {
  EXPECT_TRUE(pattern_may_replace(repeat_of(0, 2, 1), record(10, 9, 900), 11, kDefinition3Merge));
  EXPECT_TRUE(pattern_may_replace(repeat_of(0, 2, 1), record(3, 9, 900), 5, kDefinition3Merge));
  EXPECT_FALSE(pattern_may_replace(repeat_of(0, 9, 900), record(3, 9, 1), 6, kDefinition3Merge));
}

TEST(PatternMerging, FourBaseRepeatAgainstAnEightBaseOne) {
  const PatternRepeatRecord four = record(4, 5, 40);
  EXPECT_TRUE(pattern_may_replace(repeat_of(0, 2.5, 45), four, 8, kDefinition3Merge));
  EXPECT_TRUE(pattern_may_replace(repeat_of(0, 2.5, 44), four, 8, kDefinition3Merge));   // 1.1 * 40 rounds to 44
  EXPECT_FALSE(pattern_may_replace(repeat_of(0, 2.5, 43), four, 8, kDefinition3Merge));
  EXPECT_TRUE(pattern_may_replace(repeat_of(0, 3, 34), four, 8, kDefinition3Merge));
  EXPECT_FALSE(pattern_may_replace(repeat_of(0, 2.9, 34), four, 8, kDefinition3Merge));
  EXPECT_FALSE(pattern_may_replace(repeat_of(0, 9, 400), record(4, 2, 40), 8, kDefinition3Merge));
}

class PatternTableTest : public ::testing::Test {
 protected:
  PatternRepeatTable table{80};
  std::vector<std::pair<int, int>> listed() { return testing::listed_records(table); }
};

TEST_F(PatternTableTest, CoverStartsAtPositionZeroAndEndsBeforeTheLastCopy) {
  merge_found(FoundList{repeat_of(3, 3.0, 60)}, table, 80, 10, kDefinition3Merge);
  EXPECT_EQ(testing::first_record(table, 0).offset, -3);
  EXPECT_EQ(testing::first_record(table, 3).listed, 1);
  EXPECT_EQ(testing::first_record(table, 22).offset, 19);  // E = (3 - 1) * 10 = 20: offsets below 20
  EXPECT_EQ(testing::first_record(table, 23).motif_length, 0);
}

TEST_F(PatternTableTest, OverwrittenStartRecordDropsOut) {
  merge_found(FoundList{repeat_of(12, 4.0, 60)}, table, 80, 4, kDefinition3Merge);
  merge_found(FoundList{repeat_of(10, 5.0, 60)}, table, 80, 5, kDefinition3Merge);
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 5}}));
}

TEST_F(PatternTableTest, OwnStartNeverOverwritesAnotherStartRecord) {
  merge_found(FoundList{repeat_of(10, 4.0, 60)}, table, 80, 4, kDefinition3Merge);
  merge_found(FoundList{repeat_of(10, 6.0, 200)}, table, 80, 5, kDefinition3Merge);
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 4}, {10, 5}}));
}

TEST_F(PatternTableTest, UnreplaceableRecordsGetChained) {
  merge_found(FoundList{repeat_of(10, 10.0, 60)}, table, 80, 2, kDefinition3Merge);
  merge_found(FoundList{repeat_of(10, 4.0, 60)}, table, 80, 8, kDefinition3Merge);
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 2}, {10, 8}}));
  EXPECT_EQ(testing::chain_length(table, 10), 2);
}

TEST(ConsensusPattern, MajorityOfTheCopiesInCapitals) {
  // Copies: ACGT, ACGA, acTA, ACTA with the representative at 0 (ACGT).
  const std::string s = "ACGTACGAacTAACTA";
  char out[4];
  build_consensus_pattern(s.c_str(), 0, 15, 0, 4, out);
  EXPECT_EQ(std::string(out, 4), "ACGA");  // G stays on a tie, T loses to A
}

// The ranked rule equals the case-by-case one for every own base and every
// count up to 5, ties of all kinds included.
TEST(ConsensusPattern, RankedTieRuleEqualsTheCaseByCaseReference) {
  for (char own : {'A', 'C', 'G', 'T', 'N'}) {
    for (int a = 0; a <= 5; ++a) {
      for (int c = 0; c <= 5; ++c) {
        for (int g = 0; g <= 5; ++g) {
          for (int t = 0; t <= 5; ++t) {
            ASSERT_EQ(pick_consensus_base(own, a, c, g, t),
                      reference::pick_consensus_base_reference(own, a, c, g, t))
                << own << " " << a << c << g << t;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace rivulon
