// The adjacent-copy search's first step against a plain reading of it: every
// window summed as it slides, one comparison at a time.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rivulon/adjacent_copies.h"

namespace rivulon::testing {
namespace {

std::vector<Candidate> plain_candidates(const std::string& s, const Options& o) {
  const auto n = static_cast<int64_t>(s.size());
  auto compared = [&](int64_t i, int32_t L) -> int64_t {
    const char a = s[static_cast<size_t>(i)];
    const bool letter = std::string("ACGTacgt").find(a) != std::string::npos;
    return letter && a == s[static_cast<size_t>(i + L)] ? o.match : -static_cast<int64_t>(o.mismatch);
  };
  std::vector<Candidate> found;
  for (int32_t L = kLeastAdjacentPeriod; L <= o.max_motif; ++L) {
    const int64_t W = std::max<int64_t>(L, (o.min_score + o.match - 1) / std::max(o.match, 1) - L);
    if (W + L > n) break;
    int64_t sum = 0;
    for (int64_t i = 0; i < W; ++i) sum += compared(i, L);
    Candidate run;
    bool open = false;
    for (int64_t j = 0; j + W + L <= n; ++j) {
      if (j > 0) sum += compared(j + W - 1, L) - compared(j - 1, L);
      const int64_t score = int64_t{o.match} * L + sum;
      if (score >= o.min_score) {
        if (!open) run = Candidate{j, j + W + L, j, score, L};
        run.end = j + W + L;
        if (score > run.score) run.score = score, run.motif_start = j;
        open = true;
      } else if (open) {
        found.push_back(run);
        open = false;
      }
    }
    if (open) found.push_back(run);
  }
  return found;
}

// Random stretches with planted arrays (copies with substitutions), N runs and
// lower case, some longer than the comparisons made at a time, under random
// weights, minimum scores and motif limits.
TEST(AdjacentCopies, CandidatesEqualThePlainReading) {
  std::mt19937 rng(26);
  auto pick = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
  const std::string letters = "ACGTACGTACGTACGTacgtN";
  int with_candidates = 0;
  for (int k = 0; k < 120; ++k) {
    const int length = k % 10 == 0 ? pick(16000, 40000) : pick(0, 3000);
    std::string s;
    while (static_cast<int>(s.size()) < length) {
      if (rng() % 4 == 0) {
        std::string motif;
        for (int i = pick(1, 60); i > 0; --i) motif += "ACGT"[rng() % 4];
        for (int copy = pick(1, 4); copy > 0; --copy) {
          for (char c : motif) s += rng() % 10 == 0 ? "ACGT"[rng() % 4] : c;
        }
      } else {
        for (int i = pick(1, 200); i > 0; --i) s += letters[rng() % letters.size()];
      }
    }
    s.resize(static_cast<size_t>(length));
    Options o;
    o.match = pick(0, 5);
    o.mismatch = pick(0, 10);
    o.min_score = pick(30, 150);
    o.max_motif = pick(1, 120);
    const std::vector<Candidate> expected = plain_candidates(s, o);
    with_candidates += !expected.empty();
    ASSERT_EQ(adjacent_copy_candidates(s, o), expected)
        << "case " << k << ": " << s.size() << " bases, match " << o.match << ", mismatch " << o.mismatch
        << ", min score " << o.min_score << ", max motif " << o.max_motif;
  }
  EXPECT_GT(with_candidates, 30);
}

}  // namespace
}  // namespace rivulon::testing
