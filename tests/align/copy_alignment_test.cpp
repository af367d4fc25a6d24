#include "align/copy_alignment.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/copy_alignment_reference.h"

namespace rivulon {
namespace {

SequenceView view(const std::string& s) { return {s.data(), static_cast<int32_t>(s.size())}; }

// Copies A and B side by side: s = A + B, base offset -1, distance 1.
double similarity(const std::string& a, const std::string& b, const Scoring& p, int32_t& origin,
                  AlignmentMatrix& m) {
  const std::string s = a + b;
  const CopySimilarity result = align_copies(view(s), -1, static_cast<int32_t>(a.size()), 1, p, m);
  origin = result.origin;
  return result.similarity;
}

std::vector<int32_t> trace(const std::string& a, const std::string& b, const Scoring& p,
                           AlignmentMatrix& m) {
  const std::string s = a + b;
  std::vector<int32_t> moves(2 * a.size());
  int32_t count = trace_copies(view(s), -1, static_cast<int32_t>(a.size()), 1, p, m, moves.data());
  moves.resize(static_cast<size_t>(count));
  return moves;
}

TEST(AlignCopies, IdenticalCopies) {
  AlignmentMatrix m(10, /*tracing=*/true);
  int32_t origin = -1;
  EXPECT_EQ(similarity("ACGTTGCA", "ACGTTGCA", Scoring{3, -1, -2, -2}, origin, m), 3.0);
  EXPECT_EQ(origin, 0);
  EXPECT_EQ(trace("ACGTTGCA", "ACGTTGCA", Scoring{3, -1, -2, -2}, m), std::vector<int32_t>(8, 3));
}

TEST(AlignCopies, SingleBaseTieGoesHorizontal) {
  AlignmentMatrix m(4, /*tracing=*/true);
  int32_t origin = -1;
  EXPECT_EQ(similarity("A", "G", Scoring{2, -3, -1, -1}, origin, m), -2.0);
  EXPECT_EQ(origin, 1);
  EXPECT_EQ(trace("A", "G", Scoring{2, -3, -1, -1}, m), (std::vector<int32_t>{2, 1}));
}

TEST(AlignCopies, ShiftedCopiesWithTerminalGap) {
  AlignmentMatrix m(4, /*tracing=*/true);
  int32_t origin = -1;
  EXPECT_EQ(similarity("ACGT", "CGTA", Scoring{1, -1, -2, 0}, origin, m), 0.25);
  EXPECT_EQ(origin, 1);
  EXPECT_EQ(trace("ACGT", "CGTA", Scoring{1, -1, -2, 0}, m), (std::vector<int32_t>{1, 3, 3, 3, 2}));
  EXPECT_EQ(similarity("ACGT", "CGTA", Scoring{1, -1, -2, -2}, origin, m), -0.25);
}

TEST(AlignCopies, CaseMatters) {
  AlignmentMatrix m(4, /*tracing=*/true);
  int32_t origin = -1;
  EXPECT_EQ(similarity("aCGT", "ACGT", Scoring{1, -1, -2, -2}, origin, m), 0.5);
}

TEST(AlignCopies, PositionsPastTheEndNeverMatch) {
  // Copy B lies entirely beyond the end: its bases match nothing, not even each other.
  AlignmentMatrix m(4, /*tracing=*/true);
  const char s[] = "AAAA";
  const CopySimilarity result = align_copies({s, 2}, -1, 2, 1, Scoring{1, -1, -5, -5}, m);
  EXPECT_EQ(result.similarity, -1.0);
}

TEST(AlignCopies, MatchesTheReferenceOnRandomCopies) {
  std::mt19937 rng(7);
  AlignmentMatrix m(40, /*tracing=*/true);
  const char bases[] = "ACGT";
  for (int round = 0; round < 500; ++round) {
    const int L = 1 + static_cast<int>(rng() % 40);
    std::string a, b;
    for (int i = 0; i < L; ++i) a += bases[rng() % 4];
    for (int i = 0; i < L; ++i) b += (rng() % 3) ? a[i] : bases[rng() % 4];
    Scoring p;
    p.gap = -static_cast<int32_t>(rng() % 8);
    p.terminal_gap = -static_cast<int32_t>(rng() % 8);
    p.mismatch = -static_cast<int32_t>(rng() % 8);
    p.match = static_cast<int32_t>(rng() % 4);
    int32_t origin = -1;
    double sim = similarity(a, b, p, origin, m);
    const reference::ReferenceCell ref =
        reference::align_copies_reference(a, b, p.gap, p.terminal_gap, p.mismatch, p.match);
    ASSERT_EQ(sim, static_cast<double>(ref.score) / L) << a << " " << b;
    ASSERT_EQ(origin, ref.origin) << a << " " << b;

    // Replaying the traced moves gives the same score and consumes both copies.
    std::vector<int32_t> moves = trace(a, b, p, m);
    int j = 0, k = 0, score = 0;
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
      if (*it == kMoveDiag) {
        score += a[k] == b[j] ? p.match : p.mismatch;
        ++j;
        ++k;
      } else if (*it == kMoveUp) {
        score += (k == L) ? p.terminal_gap : p.gap;
        ++j;
      } else {
        score += (j == L) ? p.terminal_gap : p.gap;
        ++k;
      }
    }
    ASSERT_EQ(j, L);
    ASSERT_EQ(k, L);
    ASSERT_EQ(score, ref.score);
  }
}

TEST(AlignCopiesBanded, EqualsFullWhenThePathStaysInTheBand) {
  std::mt19937 rng(11);
  AlignmentMatrix full(120, /*tracing=*/true), banded(120, /*tracing=*/true);
  const char bases[] = "ACGT";
  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    const int L = 21 + static_cast<int>(rng() % 100);
    std::string a, b;
    for (int i = 0; i < L; ++i) a += bases[rng() % 4];
    for (int i = 0; i < L; ++i) b += (rng() % 6) ? a[i] : bases[rng() % 4];
    // A few indels keep the best path near the diagonal.
    if (rng() % 2) b.erase(rng() % L, 1), b += 'A';
    std::string s = a + b;
    // Junk left from other calls must not matter.
    for (AlignCell& c : banded.cells) c = {static_cast<int32_t>(rng() % 50), static_cast<int32_t>(rng() % 7)};
    for (int32_t& v : banded.row_scores) v = static_cast<int32_t>(rng() % 50);
    for (int32_t& v : banded.row_origins) v = static_cast<int32_t>(rng() % 7);
    Scoring p;
    p.gap = -(1 + static_cast<int32_t>(rng() % 7));
    p.terminal_gap = -static_cast<int32_t>(rng() % 7);
    p.mismatch = -static_cast<int32_t>(rng() % 7);
    p.match = 1 + static_cast<int32_t>(rng() % 3);
    const int32_t h = copy_band_half_width(L);
    const CopySimilarity f = align_copies(view(s), -1, L, 1, p, full);
    std::vector<int32_t> moves(2 * L);
    int32_t count = trace_copies(view(s), -1, L, 1, p, full, moves.data());
    // Does the full path stay within the band?
    int j = L, k = L;
    bool inside = true;
    for (int i = 0; i < count; ++i) {
      if (j > 0 && k > 0 && (k < j - h || k > j + h)) inside = false;
      if (moves[i] == kMoveUp) --j;
      else if (moves[i] == kMoveLeft) --k;
      else --j, --k;
    }
    if (!inside || f.origin > h) continue;
    const CopySimilarity g = align_copies_banded(view(s), -1, L, 1, h, p, banded);
    ASSERT_EQ(f.similarity, g.similarity);
    ASSERT_EQ(f.origin, g.origin);
    std::vector<int32_t> banded_moves(2 * L);
    int32_t banded_count = trace_copies_banded(view(s), -1, L, 1, h, p, banded, banded_moves.data());
    ASSERT_EQ(banded_count, count);
    ASSERT_TRUE(std::equal(moves.begin(), moves.begin() + count, banded_moves.begin()));
    ++compared;
  }
  EXPECT_GT(compared, 200);
}

TEST(TraceCopiesBanded, GapPenaltyZeroNeverFollowsUnwrittenCells) {
  std::mt19937 rng(3);
  AlignmentMatrix m(200, /*tracing=*/true);
  const char bases[] = "ACGT";
  for (int round = 0; round < 200; ++round) {
    const int L = 21 + static_cast<int>(rng() % 150);
    std::string s;
    for (int i = 0; i < 2 * L; ++i) s += bases[rng() % 4];
    for (AlignCell& c : m.cells) c = {static_cast<int32_t>(rng() % 9) - 4, static_cast<int32_t>(rng() % 5)};
    const int32_t h = copy_band_half_width(L);
    std::vector<int32_t> moves(2 * L);
    int32_t count = trace_copies_banded(view(s), -1, L, 1, h, Scoring{2, -3, 0, 0}, m, moves.data());
    ASSERT_GE(count, L);
    ASSERT_LE(count, 2 * L);
    int j = 0, k = 0;
    for (int i = 0; i < count; ++i) {
      ASSERT_GE(moves[i], 1);
      ASSERT_LE(moves[i], 3);
      if (moves[i] != kMoveLeft) ++j;
      if (moves[i] != kMoveUp) ++k;
    }
    ASSERT_EQ(j, L);
    ASSERT_EQ(k, L);
  }
}

TEST(BandHalfWidth, GrowsWithTheDrift) {
  EXPECT_EQ(copy_band_half_width(20), 8);
  EXPECT_EQ(copy_band_half_width(500), 26);
  EXPECT_EQ(copy_max_drift(15), 1);
  EXPECT_EQ(copy_max_drift(16), 2);
  EXPECT_EQ(copy_max_drift(100), 5);
  EXPECT_EQ(copy_max_drift(458), 11);
}

// The rolling-row scoring gives the bits of the plain banded matrix, band
// and out-of-band value included, whatever the rows held before; and the
// pruned scoring answers "does it reach" exactly.
TEST(AlignCopiesBanded, RollingRowsEqualThePlainBandedMatrix) {
  std::mt19937 rng(23);
  AlignmentMatrix m(130);
  const char bases[] = "ACGT";
  for (int round = 0; round < 3000; ++round) {
    const int L = 1 + static_cast<int>(rng() % 130);
    std::string a, b;
    for (int i = 0; i < L; ++i) a += bases[rng() % 4];
    for (int i = 0; i < L; ++i) b += (rng() % 4) ? a[i] : bases[rng() % 4];
    if (rng() % 2) b.erase(rng() % L, 1), b.insert(rng() % L, 1, bases[rng() % 4]);
    Scoring p;
    p.gap = -static_cast<int32_t>(rng() % 8);
    p.terminal_gap = -static_cast<int32_t>(rng() % 8);
    p.mismatch = -static_cast<int32_t>(rng() % 8);
    p.match = static_cast<int32_t>(rng() % 4);
    const int h = (rng() % 2) ? copy_band_half_width(L) : static_cast<int>(rng() % 12);
    if (h >= L) continue;
    for (int32_t& v : m.row_scores) v = static_cast<int32_t>(rng() % 100) - 50;
    for (int32_t& v : m.row_origins) v = static_cast<int32_t>(rng() % 9);
    const std::string s = a + b;
    const CopySimilarity got = align_copies_banded(view(s), -1, L, 1, h, p, m);
    const int64_t oob = std::max<int64_t>(int64_t{L} * p.gap * 100, INT32_MIN);
    const reference::ReferenceCell want = reference::align_copies_banded_reference(
        a, b, h, static_cast<int32_t>(oob), p.gap, p.terminal_gap, p.mismatch, p.match);
    ASSERT_EQ(got.similarity, static_cast<double>(want.score) / L) << a << " " << b << " h " << h;
    ASSERT_EQ(got.origin, want.origin) << a << " " << b << " h " << h;

    const double at_least = (static_cast<double>(rng() % 400) - 200) / 100;
    const int32_t full_up_to = (rng() % 2) ? 1000 : 0;
    const CopySimilarity exact = copy_similarity(view(s), -1, L, 1, full_up_to, p, m);
    const CopySimilarity pruned = copy_similarity_at_least(view(s), -1, L, 1, full_up_to, p, m, at_least);
    if (exact.similarity >= at_least) {
      ASSERT_EQ(pruned.similarity, exact.similarity);
      ASSERT_EQ(pruned.origin, exact.origin);
    } else {
      ASSERT_LT(pruned.similarity, at_least);
    }
  }
}

// The banded scoring by anti-diagonals gives the rows' bits: scores, origins,
// the out-of-band value (gap 0 included), terminal gaps, copies past the end,
// any band width; and without origins, in 16-bit lanes where the scores fit
// and in 32-bit ones where they do not, the same similarity.
TEST(AlignCopiesBanded, VectorKernelEqualsThePlainOne) {
  if (!vector_kernel_available()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(41);
  AlignmentMatrix plain(520), vector(520);
  const char bases[] = "ACGT";
  int narrow = 0, wide = 0;  // rounds whose scores fit 16-bit lanes, and not
  for (int round = 0; round < 4000; ++round) {
    const int L = kBandedVectorFrom + static_cast<int>(rng() % 453);  // the lengths the vectors take
    std::string a, b;
    for (int i = 0; i < L; ++i) a += bases[rng() % 4];
    for (int i = 0; i < L; ++i) b += (rng() % 5) ? a[i] : bases[rng() % 4];
    for (int i = 0, shifts = static_cast<int>(rng() % 4); i < shifts; ++i) {
      b.erase(rng() % b.size(), 1);
      b.insert(rng() % b.size(), 1, bases[rng() % 4]);
    }
    std::string s = a + b;
    if (rng() % 8 == 0) s.resize(s.size() - rng() % static_cast<size_t>(L));  // B runs past the end
    Scoring p;
    p.gap = -static_cast<int32_t>(rng() % 8);
    p.terminal_gap = -static_cast<int32_t>(rng() % 8);
    p.mismatch = -static_cast<int32_t>(rng() % (rng() % 8 == 0 ? 80 : 9));  // large ones leave 16 bits
    p.match = static_cast<int32_t>(rng() % 4);
    const int h = (rng() % 2) ? copy_band_half_width(L) : static_cast<int>(rng() % static_cast<unsigned>(L));
    if (h >= L) continue;
    for (int32_t& v : vector.diagonals) v = static_cast<int32_t>(rng() % 100) - 50;
    for (int16_t& v : vector.diagonals16) v = static_cast<int16_t>(rng() % 100 - 50);
    ++(banded_scores_fit_16_bits(L, p) ? narrow : wide);
    const SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
    const CopySimilarity want = align_copies_banded_plain(seq, -1, L, 1, h, p, plain);
    const CopySimilarity got = align_copies_banded_vector(seq, -1, L, 1, h, p, vector);
    ASSERT_EQ(got.similarity, want.similarity) << "L " << L << " h " << h << " round " << round;
    ASSERT_EQ(got.origin, want.origin) << "L " << L << " h " << h << " round " << round;

    // Kept without origins, and stopped early or not: the same similarity
    // whenever it reaches the level asked.
    const double at_least = (rng() % 4 == 0) ? -std::numeric_limits<double>::infinity()
                                             : (static_cast<double>(rng() % 300) - 100) / 100;
    const double whole = copy_similarity(seq, -1, L, 1, 0, p, plain).similarity;
    const double score_only = copy_score_at_least(seq, -1, L, 1, 0, p, vector, at_least);
    if (whole >= at_least) {
      ASSERT_EQ(score_only, whole) << "L " << L << " round " << round;
    } else {
      ASSERT_LT(score_only, at_least) << "L " << L << " round " << round;
    }
  }
  EXPECT_GT(narrow, 1000);
  EXPECT_GT(wide, 400);  // a gap penalty of 0, or large weights
}

}  // namespace
}  // namespace rivulon
