// The statistics of a repeat against arrays planted in random flanks, whose
// motif, copies and mutations are known.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "rivulon/executor.h"
#include "rivulon/rivulon.h"

namespace rivulon::testing {
namespace {

std::string random_bases(std::mt19937& rng, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += "ACGT"[rng() % 4];
  return s;
}

// `copies` copies of `motif` (a last partial one of `part` bases), each base
// substituted, deleted or followed by an insertion with probability `rate` / 3.
std::string plant(std::mt19937& rng, const std::string& motif, int copies, size_t part, double rate) {
  std::string exact;
  for (int k = 0; k < copies; ++k) exact += motif;
  exact += motif.substr(0, part);
  std::uniform_real_distribution<double> u(0, 1);
  std::string out;
  for (char c : exact) {
    const double x = u(rng);
    if (x < rate / 3) {
      out += "ACGT"[(std::string("ACGT").find(c) + 1 + rng() % 3) % 4];
    } else if (x < 2 * rate / 3) {
      continue;
    } else {
      out += c;
      if (x < rate) out += "ACGT"[rng() % 4];
    }
  }
  return out;
}

// The stretch [start, end) of `bases` that aligns best, locally, with
// `motif` repeated (wrap-around Smith-Waterman, written plainly): where the
// planted array's own mutations let any aligner put its ends.
std::pair<int64_t, int64_t> best_local_span(const std::string& bases, const std::string& motif, const Options& o) {
  const size_t P = motif.size();
  struct Cell {
    int64_t score = 0, start = 0;
  };
  std::vector<Cell> row(P), next(P);
  int64_t best = 0, best_start = 0, best_end = 0;
  for (size_t i = 0; i < bases.size(); ++i) {
    for (size_t j = 0; j < P; ++j) {
      const Cell& diagonal = row[(j + P - 1) % P];
      const int64_t s = bases[i] == motif[j] ? o.match : -static_cast<int64_t>(o.mismatch);
      next[j] = diagonal.score > 0 ? Cell{diagonal.score + s, diagonal.start} : Cell{s, static_cast<int64_t>(i)};
      if (row[j].score - o.gap > next[j].score) next[j] = Cell{row[j].score - o.gap, row[j].start};
    }
    for (size_t round = 0; round < 2; ++round) {  // a deleted motif letter may wrap round
      for (size_t j = 0; j < P; ++j) {
        const Cell& left = next[(j + P - 1) % P];
        if (left.score - o.gap > next[j].score) next[j] = Cell{left.score - o.gap, left.start};
      }
    }
    for (size_t j = 0; j < P; ++j) {
      if (next[j].score > best) best = next[j].score, best_start = next[j].start, best_end = static_cast<int64_t>(i) + 1;
    }
    std::swap(row, next);
  }
  return {best_start, best_end};
}

TEST(Statistics, CanonicalMotifIsTheSmallestRotationOfEitherStrand) {
  EXPECT_EQ(canonical_motif("TA"), "AT");
  EXPECT_EQ(canonical_motif("at"), "AT");
  EXPECT_EQ(canonical_motif("CAG"), "AGC");   // CTG's rotation
  EXPECT_EQ(canonical_motif("GGGA"), "AGGG");
  EXPECT_EQ(canonical_motif("TCCC"), "AGGG");  // reverse complement GGGA
  EXPECT_EQ(canonical_motif(""), "");
}

TEST(Statistics, ShuffleKeepsEveryDinucleotideAndBothEnds) {
  std::mt19937 rng(7);
  for (size_t n : {0, 1, 2, 3, 10, 1000}) {
    const std::string bases = random_bases(rng, n) + (n > 0 ? "ACGTTTTACGNN" : "");
    auto pairs = [](const std::string& s) {
      std::map<std::string, int> counts;
      for (size_t i = 0; i + 1 < s.size(); ++i) ++counts[s.substr(i, 2)];
      return counts;
    };
    const std::string a = shuffle_dinucleotides(bases, 1), b = shuffle_dinucleotides(bases, 1);
    EXPECT_EQ(a, b);  // a seed gives one shuffle
    ASSERT_EQ(a.size(), bases.size());
    EXPECT_EQ(pairs(a), pairs(bases));
    if (!a.empty()) {
      EXPECT_EQ(a.front(), bases.front());
      EXPECT_EQ(a.back(), bases.back());
    }
    if (n == 1000) {
      EXPECT_NE(shuffle_dinucleotides(bases, 2), a);
    }
  }
}

TEST(Statistics, PerfectArray) {
  const std::string bases = "TTGACCTAGGCATGCAAGTC" + std::string("ACGACGACGACGACGACGACGACGACGACG") + "GTCATGGACTTACCGATTGC";
  Options o;
  o.definition = 3;
  Workspace ws;
  const auto repeats = std::get<std::vector<Repeat>>(find_repeats(bases, o, ws));
  ASSERT_FALSE(repeats.empty());
  const RepeatStatistics s = describe(bases, repeats[0], o);
  EXPECT_EQ(canonical_motif(s.consensus), "ACG");
  EXPECT_EQ(s.length, repeats[0].end - repeats[0].start);
  EXPECT_EQ(s.percent_matches, 100);
  EXPECT_EQ(s.percent_indels, 0);
  EXPECT_EQ(s.score, 2 * s.length);
  EXPECT_EQ(s.composition[3], 0);
  EXPECT_NEAR(s.entropy, std::log2(3.0), 0.05);
}

// The shortest motif `motif` is made of ("ATAT" -> "AT").
std::string primitive(const std::string& motif) {
  for (size_t p = 1; p < motif.size(); ++p) {
    if (motif.size() % p == 0 && motif.substr(p) + motif.substr(0, p) == motif) return motif.substr(0, p);
  }
  return motif;
}

// 200 arrays, periods 2-300, 3-20 copies, 0-15% mutations, in random flanks:
// the one call per locus that overlaps the array is compared with it. Its
// bounds are compared with those the planted motif itself aligns to: a
// mutation near an end, or flank letters that happen to continue the motif,
// move the ends any aligner finds (on 200 such arrays TRF puts both ends
// within 2 bases of the planted ones in 59% of the cases it finds, this
// program in 60%).
TEST(Statistics, PlantedArraysOneCallPerLocus) {
  std::mt19937 rng(24);
  int found = 0, single = 0, bounds = 0, consensus = 0, copies = 0, identity = 0;
  const int cases = 200;
  for (int k = 0; k < cases; ++k) {
    const int32_t period = k % 4 == 0 ? 2 + static_cast<int32_t>(rng() % 5) : 2 + static_cast<int32_t>(rng() % 299);
    const int n_copies = 3 + static_cast<int>(rng() % 18);
    const double rate = 0.15 * (rng() % 16) / 15.0;
    const std::string motif = random_bases(rng, static_cast<size_t>(period));
    const std::string array = plant(rng, motif, n_copies, rng() % static_cast<size_t>(period), rate);
    const std::string left = random_bases(rng, 300), right = random_bases(rng, 300);
    const std::string bases = left + array + right;
    Options o;
    o.definition = 3;
    o.max_motif = std::min(500, 3 * period + 20);  // multiples of the motif are still found
    Workspace ws;
    const auto calls = one_per_locus(bases, std::get<std::vector<Repeat>>(find_repeats(bases, o, ws)), o);
    const int64_t a0 = static_cast<int64_t>(left.size()), a1 = a0 + static_cast<int64_t>(array.size());
    const Call* best = nullptr;
    int touching = 0;
    for (const Call& c : calls) {
      if (std::min(c.repeat.end, a1) <= std::max(c.repeat.start, a0)) continue;
      ++touching;
      if (best == nullptr || c.statistics.score > best->statistics.score) best = &c;
    }
    if (best == nullptr) continue;
    const RepeatStatistics& s = best->statistics;
    const std::string unit = primitive(motif);
    ++found;
    single += touching == 1;
    const auto [s0, s1] = best_local_span(bases, motif, o);
    bounds += std::abs(best->repeat.start - s0) <= 2 && std::abs(best->repeat.end - s1) <= 2;
    consensus += canonical_motif(s.consensus) == canonical_motif(unit) || (rate > 0.1 && s.consensus.size() == unit.size());
    copies += std::abs(s.copies - static_cast<double>(array.size()) / static_cast<double>(unit.size())) <= 0.1 * n_copies + 0.5;
    // Adjacent copies differ at about twice the rate at which a copy differs from the motif.
    identity += std::abs(s.percent_matches - 100 * (1 - 2 * rate)) <= 10;
  }
  std::printf("found %d single %d bounds %d consensus %d copies %d identity %d of %d\n", found, single, bounds,
              consensus, copies, identity, cases);
  EXPECT_GE(found, cases * 85 / 100);  // the rest are too short or too mutated to reach the minimum score
  EXPECT_GE(single, found * 95 / 100);
  EXPECT_GE(bounds, found * 90 / 100);
  EXPECT_GE(consensus, found * 80 / 100);
  EXPECT_GE(copies, found * 90 / 100);
  EXPECT_GE(identity, found * 90 / 100);
}

// The copies of planted arrays laid out on their consensus: together they
// are the aligned bases, in order, with nothing lost or doubled; each passes
// the consensus once from column 0 (the first from where the alignment
// starts); their matches are the letters equal to the consensus's; the
// alignment scores what describe() reports.
// report_calls: one per locus is one_per_locus, every call is describe() of
// each repeat, and a cancellation set before the call leaves nothing.
TEST(Statistics, ReportCallsAsTheBatchProgramChoosesThem) {
  std::mt19937 rng(28);
  const std::string bases =
      random_bases(rng, 200) + plant(rng, "ACGTTGCA", 12, 0, 0.05) + random_bases(rng, 200) + plant(rng, "CA", 30, 0, 0);
  Options o;
  Workspace ws;
  const auto repeats = std::get<std::vector<Repeat>>(find_repeats(bases, o, ws));
  Reporting plain;
  plain.adjacent_copies = false;
  const std::vector<Call> loci = report_calls(bases, repeats, o, plain), expected = one_per_locus(bases, repeats, o);
  ASSERT_EQ(loci.size(), expected.size());
  ASSERT_GE(loci.size(), 2u);
  for (size_t k = 0; k < loci.size(); ++k) {
    EXPECT_EQ(loci[k].repeat.start, expected[k].repeat.start);
    EXPECT_EQ(loci[k].statistics.consensus, expected[k].statistics.consensus);
    EXPECT_EQ(loci[k].source, expected[k].source);
  }
  Reporting all;
  all.one_per_locus = false;
  EXPECT_EQ(report_calls(bases, repeats, o, all).size(), repeats.size());
  all.min_copies = 20;  // only the (CA)30
  const std::vector<Call> long_ones = report_calls(bases, repeats, o, all);
  ASSERT_FALSE(long_ones.empty());
  for (const Call& c : long_ones) EXPECT_GE(c.statistics.copies, 20);
  // Statistics worked out on several threads: the same calls, in the same order.
  Executor executor(3);
  for (Reporting* r : {&plain, &all}) {
    Reporting threaded = *r;
    threaded.executor = &executor;
    const std::vector<Call> one = report_calls(bases, repeats, o, *r), three = report_calls(bases, repeats, o, threaded);
    ASSERT_EQ(one.size(), three.size());
    for (size_t k = 0; k < one.size(); ++k) {
      EXPECT_EQ(one[k].repeat.start, three[k].repeat.start);
      EXPECT_EQ(one[k].statistics.consensus, three[k].statistics.consensus);
      EXPECT_EQ(one[k].statistics.score, three[k].statistics.score);
      EXPECT_EQ(one[k].source, three[k].source);
    }
  }
  const std::atomic<bool> cancelled{true};
  plain.cancel = &cancelled;
  EXPECT_TRUE(report_calls(bases, repeats, o, plain).empty());
  plain.executor = &executor;
  EXPECT_TRUE(report_calls(bases, repeats, o, plain).empty());
}

TEST(Statistics, CopiesLaidOutOnTheConsensus) {
  std::mt19937 rng(25);
  int laid_out = 0;
  for (int k = 0; k < 60; ++k) {
    const int32_t period = 1 + static_cast<int32_t>(rng() % (k % 3 == 0 ? 6 : 120));
    const std::string motif = random_bases(rng, static_cast<size_t>(period));
    const std::string bases = random_bases(rng, 200) +
                              plant(rng, motif, 4 + static_cast<int>(rng() % 10), rng() % static_cast<size_t>(period),
                                    0.15 * (rng() % 8) / 7.0) + random_bases(rng, 200);
    Options o;
    o.max_motif = std::min(500, 3 * period + 20);
    Workspace ws;
    for (const Call& c : one_per_locus(bases, std::get<std::vector<Repeat>>(find_repeats(bases, o, ws)), o)) {
      const RepeatStatistics& s = c.statistics;
      const CopyLayout layout = align_copies(bases, c.repeat.start, c.repeat.end, s.consensus, o);
      ++laid_out;
      ASSERT_EQ(layout.score, s.score) << k;
      ASSERT_FALSE(layout.copies.empty());
      EXPECT_GE(layout.aligned_start, c.repeat.start);
      EXPECT_LE(layout.aligned_end, c.repeat.end);
      EXPECT_EQ(layout.copies.front().start, layout.aligned_start);
      EXPECT_EQ(layout.copies.back().end, layout.aligned_end);
      const auto L = static_cast<int32_t>(s.consensus.size());
      for (size_t j = 0; j < layout.copies.size(); ++j) {
        const CopyAlignment& copy = layout.copies[j];
        if (j > 0) {
          EXPECT_EQ(copy.start, layout.copies[j - 1].end);
          EXPECT_EQ(copy.first_column, 0);
        }
        const auto passed = copy.first_column + static_cast<int32_t>(copy.letters.size());
        if (j + 1 < layout.copies.size()) {
          EXPECT_EQ(passed, L) << k << " copy " << j;
        }
        EXPECT_LE(passed, L);
        std::string read;
        int64_t matches = 0, columns = static_cast<int64_t>(copy.letters.size());
        size_t next = 0;
        for (size_t i = 0; i <= copy.letters.size(); ++i) {
          for (; next < copy.insertions.size() && copy.insertions[next].first == static_cast<int32_t>(i); ++next) {
            read += copy.insertions[next].second;
            columns += static_cast<int64_t>(copy.insertions[next].second.size());
          }
          if (i == copy.letters.size()) break;
          if (copy.letters[i] != '-') read += copy.letters[i];
          matches += copy.letters[i] == s.consensus[static_cast<size_t>(copy.first_column) + i];
        }
        EXPECT_EQ(next, copy.insertions.size());
        EXPECT_EQ(read, bases.substr(static_cast<size_t>(copy.start), static_cast<size_t>(copy.end - copy.start)));
        EXPECT_EQ(copy.percent_matches, 100 * matches / columns);
      }
    }
  }
  EXPECT_GE(laid_out, 40);  // the rest too short or too mutated to be found
}

// Two copies of a 30-mer, four substitutions apart, in random flanks: the
// adjacent-copy search finds them, once, unless a locus already explains them
// as well; it finds nothing in random bases, in N runs or in stretches too
// short.
TEST(Statistics, AdjacentCopiesFindTwoCopiesAndNothingByChance) {
  std::mt19937 rng(30);
  const std::string motif = random_bases(rng, 30);
  std::string second = motif;
  for (size_t p : {3u, 10u, 17u, 24u}) second[p] = "ACGT"[(std::string("ACGT").find(second[p]) + 1) % 4];
  const std::string left = random_bases(rng, 400);
  const std::string bases = left + motif + second + random_bases(rng, 400);
  Options o;
  const std::vector<Call> found = find_adjacent_copies(bases, {}, o);
  ASSERT_EQ(found.size(), 1u);
  const Repeat& r = found[0].repeat;
  EXPECT_EQ(r.definition, 0);
  EXPECT_EQ(r.motif_length, 30);
  EXPECT_EQ(found[0].statistics.consensus.size(), 30u);
  EXPECT_LE(std::abs(r.start - 400), 3);
  EXPECT_LE(std::abs(r.end - 460), 3);
  EXPECT_EQ(r.motif_start, r.start);
  EXPECT_GE(r.units, 1.8);
  EXPECT_EQ(r.value, static_cast<double>(found[0].statistics.score));
  EXPECT_GE(r.value, o.min_score);
  EXPECT_EQ(r.value_text, std::to_string(found[0].statistics.score));
  EXPECT_EQ(found[0].source, SIZE_MAX);
  // Laid out again as a call, it stays where it is.
  const std::vector<Call> again = loci_of(bases, {r}, o);
  EXPECT_EQ(again[0].repeat.start, r.start);
  EXPECT_EQ(again[0].repeat.end, r.end);
  EXPECT_EQ(again[0].statistics.score, found[0].statistics.score);

  // A locus that explains it as well keeps it out; a worse one does not.
  Call covering = found[0];
  covering.repeat.start -= 10;
  EXPECT_TRUE(find_adjacent_copies(bases, {covering}, o).empty());
  covering.statistics.score = o.min_score;
  ASSERT_EQ(find_adjacent_copies(bases, {covering}, o).size(), 1u);
  const std::vector<Call> chosen = choose_loci({covering, find_adjacent_copies(bases, {covering}, o)[0]});
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].source, SIZE_MAX);
  EXPECT_TRUE(find_adjacent_copies(random_bases(rng, 100000), {}, o).empty());
  EXPECT_TRUE(find_adjacent_copies(std::string(5000, 'N'), {}, o).empty());
  EXPECT_TRUE(find_adjacent_copies(motif.substr(0, 13), {}, o).empty());
  o.max_motif = 6;  // shorter than any motif the search looks for
  EXPECT_TRUE(find_adjacent_copies(bases, {}, o).empty());
}

}  // namespace
}  // namespace rivulon::testing
