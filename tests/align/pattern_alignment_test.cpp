#include "align/pattern_alignment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "align/pattern_kernels.h"
#include "reference/pattern_alignment_reference.h"

namespace rivulon {
namespace {

using Measured = reference::PatternAlignmentResult;

Measured forward(const std::string& stretch, const std::string& pattern, int32_t gap,
                 int32_t mismatch, int32_t match, double threshold, PatternWorkspace& ws) {
  const PatternScore got = score_against_pattern(
      {stretch.data(), static_cast<int32_t>(stretch.size())}, -1,
      static_cast<int32_t>(stretch.size()), pattern.data(), static_cast<int32_t>(pattern.size()),
      Scoring{match, mismatch, gap, 0}, threshold, ws);
  return Measured{got.score, got.aligned_length, got.first_row, got.last_row, {}, 0};
}

std::string repeat(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += unit;
  return s;
}

TEST(ScoreAgainstPattern, ExactTandemRun) {
  PatternWorkspace ws(10);
  Measured m = forward(repeat("ACGTT", 6), "ACGTT", -7, -7, 2, 30, ws);
  EXPECT_EQ(m.score, 60.0);
  EXPECT_EQ(m.length, 30);
  EXPECT_EQ(m.first, 0);
  EXPECT_EQ(m.last, 30);
}

TEST(ScoreAgainstPattern, EntersThePatternAtAnyPhase) {
  PatternWorkspace ws(10);
  Measured m = forward("GTT" + repeat("ACGTT", 5), "ACGTT", -7, -7, 2, 30, ws);
  EXPECT_EQ(m.score, 56.0);
  EXPECT_EQ(m.length, 28);
  EXPECT_EQ(m.first, 0);
}

TEST(ScoreAgainstPattern, BadPrefixDropped) {
  PatternWorkspace ws(10);
  Measured m = forward("CCCCC" + repeat("ATG", 8), "ATG", -5, -5, 2, 30, ws);
  EXPECT_EQ(m.first, 5);
  EXPECT_EQ(m.length, 24);
}

TEST(ScoreAgainstPattern, BelowThresholdGivesNoRows) {
  PatternWorkspace ws(10);
  Measured m = forward(repeat("AC", 5), "AC", -7, -7, 2, 30, ws);
  EXPECT_EQ(m.score, 20.0);
  EXPECT_EQ(m.length, 0);
  EXPECT_EQ(m.first, 0);
  EXPECT_EQ(m.last, 0);
}

TEST(ScoreAgainstPattern, LastOfEqualBestValuesWins) {
  PatternWorkspace ws(10);
  // Two equally good runs separated by junk: the later one is reported.
  Measured m = forward(repeat("AG", 10) + "TTTTTTTTTTTTTTTTTTTT" + repeat("AG", 10), "AG", -9, -9, 2,
                       30, ws);
  EXPECT_EQ(m.score, 40.0);
  EXPECT_EQ(m.last, 60);
  EXPECT_EQ(m.first, 40);
}

TEST(ScoreAgainstPattern, ForwardPassEqualsFullTraceback) {
  std::mt19937 rng(5);
  PatternWorkspace ws(30);
  const char bases[] = "ACGT";
  for (int round = 0; round < 3000; ++round) {
    const int L = 1 + static_cast<int>(rng() % 12);
    std::string pattern;
    for (int i = 0; i < L; ++i) pattern += bases[rng() % 4];
    std::string stretch;
    const int H = static_cast<int>(rng() % 80);
    for (int i = 0; i < H; ++i) {
      int roll = static_cast<int>(rng() % 10);
      if (roll < 7) stretch += pattern[static_cast<size_t>(i) % L];
      else if (roll < 9) stretch += bases[rng() % 4];
      else if (!stretch.empty()) stretch.pop_back();
    }
    const int32_t gap = -static_cast<int32_t>(rng() % 6), mismatch = -static_cast<int32_t>(rng() % 6);
    const int32_t match = static_cast<int32_t>(rng() % 4);
    const double threshold = static_cast<double>(rng() % 12);
    Measured want =
        reference::pattern_alignment_reference(stretch, pattern, gap, mismatch, match, threshold);
    Measured got = forward(stretch, pattern, gap, mismatch, match, threshold, ws);
    // Below the threshold only that is promised (the pass may stop early).
    if (want.score < threshold) {
      ASSERT_LT(got.score, threshold) << stretch << " / " << pattern;
      got.score = want.score;
    }
    ASSERT_EQ(got.score, want.score) << stretch << " / " << pattern;
    ASSERT_EQ(got.length, want.length) << stretch << " / " << pattern << " gap " << gap;
    ASSERT_EQ(got.first, want.first) << stretch << " / " << pattern << " gap " << gap;
    ASSERT_EQ(got.last, want.last);

    // align_to_pattern records exactly the traceback, whatever its block size.
    if (want.score >= threshold && !stretch.empty()) {
      std::string s = pattern + stretch;
      std::vector<int32_t> moves;
      ws.block_rows = 1 + static_cast<int32_t>(rng() % 9);
      ws.all_moves_bytes = round % 3 == 0 ? size_t{4} << 20 : 0;  // one fill, or blocks
      const PatternRegion region{L - 1, -1, static_cast<int32_t>(stretch.size()), L};
      const int32_t phase = align_to_pattern({s.data(), static_cast<int32_t>(s.size())}, region,
                                             Scoring{match, mismatch, gap, 0}, threshold, ws, moves);
      ASSERT_EQ(moves, want.moves) << stretch << " / " << pattern << " blocks " << ws.block_rows;
      ASSERT_EQ(phase, want.phase);
      // Only the rows from where the traceback stops to the best cell, from a
      // row of zeros: the same moves and phase.
      if (want.last > want.first) {
        const PatternRegion part{L - 1 + want.first, -1, want.last - want.first, L};
        ws.block_rows = round % 2 ? 1024 : 1 + static_cast<int32_t>(rng() % 9);
        ASSERT_EQ(align_to_pattern({s.data(), static_cast<int32_t>(s.size())}, part,
                                   Scoring{match, mismatch, gap, 0}, threshold, ws, moves),
                  want.phase);
        ASSERT_EQ(moves, want.moves) << stretch << " / " << pattern << " rows " << want.first << ".." << want.last;
      }
    }
  }
}

TEST(AlignToPattern, BelowMinimumGivesNoMoves) {
  PatternWorkspace ws(5);
  std::string s = "ACACAC";
  std::vector<int32_t> moves{9, 9};
  const PatternRegion region{-1, -1, 6, 2};
  EXPECT_EQ(align_to_pattern({s.data(), 6}, region, Scoring{2, -7, -7, 0}, 30, ws, moves), 0);
  EXPECT_TRUE(moves.empty());
}

}  // namespace
}  // namespace rivulon

namespace rivulon {
namespace {

// The AVX2 rows against the plain ones, and the dispatch against both: every
// field of the result, on tandem arrays with substitutions and indels read
// at any phase, random patterns, stretches running past the sequence's end,
// motif lengths 1..500, gap 0, extreme weights and thresholds that stop the
// pass early or never.
TEST(PatternKernels, VectorRowsEqualThePlainOnes) {
  if (!pattern_avx2_available()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(26);
  const char bases[] = "ACGT";
  PatternWorkspace plain(500), vector(500), either(500);
  int vector_runs = 0;
  for (int round = 0; round < 3000; ++round) {
    const int L = round < 500 ? round + 1 : 1 + static_cast<int>(rng() % 500);
    std::string motif;
    for (int i = 0; i < L; ++i) motif += bases[rng() % 4];
    std::string s;
    for (int i = 0, n = static_cast<int>(rng() % 60); i < n; ++i) s += bases[rng() % 4];
    const int copies = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < copies * L; ++k) {
      const unsigned roll = rng() % 20;
      if (roll == 0) continue;                                  // deletion
      if (roll == 1) s += bases[rng() % 4];                     // insertion
      s += roll == 2 ? bases[rng() % 4] : motif[static_cast<size_t>(k % L)];
    }
    for (int i = 0, n = static_cast<int>(rng() % 60); i < n; ++i) s += bases[rng() % 4];
    std::string pattern = motif;
    if (rng() % 4 == 0) for (char& c : pattern) c = bases[rng() % 4];
    if (rng() % 8 == 0) pattern[rng() % pattern.size()] = 'N';
    Scoring p;
    p.match = static_cast<int32_t>(rng() % 6);
    p.mismatch = -static_cast<int32_t>(rng() % 10);
    p.gap = -static_cast<int32_t>(rng() % 10);  // 0 included
    if (rng() % 16 == 0) {
      p.match = 1000000;
      p.mismatch = -1000000;
      p.gap = -static_cast<int32_t>(rng() % 2) * 1000000;
    }
    const int64_t offset = static_cast<int64_t>(rng() % 40) - 1;
    const int32_t H = static_cast<int32_t>(s.size()) - static_cast<int32_t>(offset) + static_cast<int32_t>(rng() % 20) - 10;
    if (H < 1) continue;
    const double threshold = rng() % 3 == 0 ? 1.0 : static_cast<double>(rng() % 400) * std::max(p.match, 1);
    const SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
    const PatternScore want = score_against_pattern_rows(seq, offset, H, pattern.data(), L, p, threshold, plain);
    const PatternScore dispatched = score_against_pattern(seq, offset, H, pattern.data(), L, p, threshold, either);
    const std::string where = "round " + std::to_string(round) + " L " + std::to_string(L) + " H " + std::to_string(H);
    auto same = [&](const PatternScore& got) {
      EXPECT_EQ(got.score, want.score) << where;
      EXPECT_EQ(got.first_row, want.first_row) << where;
      EXPECT_EQ(got.last_row, want.last_row) << where;
      EXPECT_EQ(got.aligned_length, want.aligned_length) << where;
    };
    same(dispatched);
    if (fits_32_bits(H, p)) {
      same(score_against_pattern_avx2(seq, offset, H, pattern.data(), L, p, threshold, vector));
      ++vector_runs;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(vector_runs, 2000);
  // The scores must keep 32 bits; past that, the plain rows.
  EXPECT_TRUE(fits_32_bits(200000000, Scoring{2, -7, -7, -3}));
  EXPECT_FALSE(fits_32_bits(1000, Scoring{1000000, -7, -7, -3}));
}

}  // namespace
}  // namespace rivulon
