#include "detect/merge.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace rivulon {
namespace {

RepeatRecord record(int32_t D, int32_t units, double similarity) {
  RepeatRecord r{};
  r.motif_length = D;
  r.units = units;
  r.similarity = static_cast<float>(similarity);
  return r;
}

TEST(IsDominated, MultipleOfAShortPeriodDecidedByLengthAndSimilarity) {
  // L = 6 against D = 2 with 3 units: rule 1 holds; (2 - 1) * 6 <= 6 holds.
  EXPECT_TRUE(is_dominated({0, 2, 1.0f}, record(2, 3, 0.8), 6, kDefinition1Merge));
  EXPECT_FALSE(is_dominated({0, 2, 1.0f}, record(2, 3, 0.7), 6, kDefinition1Merge));
  // A longer candidate is not dominated: 3 * 6 > 1.15 * 6 and 2 * 6 > 6.
  EXPECT_FALSE(is_dominated({0, 3, 1.0f}, record(2, 3, 0.9), 6, kDefinition1Merge));
}

TEST(IsDominated, SameMotifLength) {
  EXPECT_TRUE(is_dominated({0, 4, 1.0f}, record(5, 4, 0.75), 5, kDefinition1Merge));
  EXPECT_FALSE(is_dominated({0, 4, 1.0f}, record(5, 4, 0.74), 5, kDefinition1Merge));
  EXPECT_FALSE(is_dominated({0, 4, 1.0f}, record(5, 4, 0.79), 5, kDefinition2Merge));
}

TEST(MayReplace, NearPeriodAlwaysReplaceable) {
  EXPECT_TRUE(may_replace({0, 2, 0.1f}, record(9, 50, 2.0), 10, kDefinition1Merge));
  EXPECT_TRUE(may_replace({0, 2, 0.1f}, record(7, 50, 2.0), 10, kDefinition1Merge));  // 10 <= 7 + 3
  EXPECT_FALSE(may_replace({0, 2, 0.1f}, record(7, 50, 2.0), 10, kDefinition2Merge));  // margin 2
}

TEST(MayReplace, ShortMotifsProtectedOnlyUnderDefinition1) {
  const CandidateRepeat k{0, 4, 1.0f};
  const RepeatRecord r = record(2, 10, 0.5);
  EXPECT_FALSE(may_replace(k, r, 8, kDefinition1Merge));
  EXPECT_TRUE(may_replace(k, r, 8, kDefinition2Merge));
}

TEST(MayReplace, LongerRepeatRule) {
  // D = 4, 5 units (20 bases) against L = 8.
  const RepeatRecord r = record(4, 5, 1.0);
  EXPECT_TRUE(may_replace({0, 3, 1.15f}, r, 8, kDefinition1Merge));   // 24 >= 20, 1.15 >= 1.15
  EXPECT_FALSE(may_replace({0, 2, 1.1f}, r, 8, kDefinition1Merge));   // 16 < 20
  EXPECT_TRUE(may_replace({0, 3, 0.85f}, r, 8, kDefinition1Merge));   // 24 >= 1.2 * 20, 0.85 >= 0.85
  EXPECT_FALSE(may_replace({0, 3, 0.84f}, r, 8, kDefinition1Merge));
  EXPECT_FALSE(may_replace({0, 3, 1.5f}, record(4, 2, 1.0), 8, kDefinition1Merge));  // L >= 8
}

class MergeTest : public ::testing::Test {
 protected:
  RecordTable table{60};
  std::vector<std::pair<int, int>> listed() { return testing::listed_records(table); }
};

TEST_F(MergeTest, SpanReachesBeforeTheStartAndStopsBeforeTheLastCopy) {
  merge_found(CandidateList{{10, 3, 1.0f}}, table, 60, 5, kDefinition1Merge);
  EXPECT_EQ(testing::first_record(table, 4).motif_length, 0);
  EXPECT_EQ(testing::first_record(table, 5).offset, -5);
  EXPECT_EQ(testing::first_record(table, 10).listed, 1);
  EXPECT_EQ(testing::first_record(table, 19).offset, 9);
  EXPECT_EQ(testing::first_record(table, 20).motif_length, 0);
  merge_found(CandidateList{{30, 2, 1.0f}}, table, 60, 2, kDefinition1Merge);
  EXPECT_EQ(testing::first_record(table, 26).offset, -4);  // 2L before the start for L <= 3
}

TEST_F(MergeTest, RecordsOnlyInsideTheSequence) {
  merge_found(CandidateList{{55, 4, 1.0f}}, table, 60, 3, kDefinition1Merge);
  EXPECT_EQ(table.size(), 11u);  // positions 49..59, one record each
  EXPECT_EQ(testing::first_record(table, 59).offset, 4);
}

TEST_F(MergeTest, OwnStartRecordOfAnotherRepeatIsNeverOverwritten) {
  merge_found(CandidateList{{10, 4, 1.0f}}, table, 60, 4, kDefinition1Merge);
  merge_found(CandidateList{{10, 6, 1.0f}}, table, 60, 5, kDefinition1Merge);  // near period, same start
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 4}, {10, 5}}));
}

TEST_F(MergeTest, OverwrittenStartRecordIsNoLongerListed) {
  merge_found(CandidateList{{12, 4, 1.0f}}, table, 60, 4, kDefinition1Merge);
  merge_found(CandidateList{{10, 6, 1.0f}}, table, 60, 5, kDefinition1Merge);
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 5}}));
}

TEST_F(MergeTest, DominatedCandidateWritesNothing) {
  merge_found(CandidateList{{10, 4, 1.0f}}, table, 60, 4, kDefinition1Merge);
  const size_t before = table.size();
  merge_found(CandidateList{{10, 4, 0.9f}}, table, 60, 4, kDefinition1Merge);
  EXPECT_EQ(table.size(), before);
  EXPECT_EQ(testing::first_record(table, 10).similarity, 1.0);
}

TEST_F(MergeTest, UnreplaceableRecordsGetChained) {
  merge_found(CandidateList{{10, 10, 1.0f}}, table, 60, 2, kDefinition1Merge);  // protected short motif
  merge_found(CandidateList{{10, 4, 1.0f}}, table, 60, 8, kDefinition1Merge);
  EXPECT_EQ(listed(), (std::vector<std::pair<int, int>>{{10, 2}, {10, 8}}));
  EXPECT_EQ(testing::chain_length(table, 10), 2);
}

}  // namespace
}  // namespace rivulon
