// The public face against the detectors it stands on: the same repeats,
// whatever buffer a sequence is a slice of, on any number of threads.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "detect/definition1.h"
#include "detect/definition2.h"
#include "detect/definition3.h"
#include "rivulon/rivulon.h"
#include "stats/composition.h"
#include "test_support.h"

namespace rivulon::testing {
namespace {

// (start, motif length) of every repeat the detectors list for `bases`, read
// from a NUL-terminated copy as the programs hand it to them.
std::vector<std::pair<int, int>> detected(const std::string& bases, const Options& o) {
  const SequenceView seq{bases.c_str(), static_cast<int32_t>(bases.size())};
  const DetectionInput in{seq,
                          Scoring{o.match, -o.mismatch, -o.gap, -o.terminal_gap},
                          o.definition == 3 ? o.min_score : o.level * 0.01,
                          static_cast<int32_t>(std::min<int64_t>(o.max_motif, seq.n / 2)),
                          match_probability(count_bases(seq), seq.n)};
  if (o.definition == 3) return listed_records(std::get<PatternRepeatTable>(detect_definition3(in)));
  return listed_records(std::get<RecordTable>(o.definition == 1 ? detect_definition1(in) : detect_definition2(in)));
}

std::vector<std::pair<int, int>> starts(const Result& result) {
  std::vector<std::pair<int, int>> out;
  for (const Repeat& r : std::get<std::vector<Repeat>>(result)) out.push_back({static_cast<int>(r.start), r.motif_length});
  return out;
}

// 1,000 sequences (random, and slices of real records with their repeats),
// each passed as a view into a larger buffer of random bytes with no NUL
// after it: the repeats of a NUL-terminated copy, for every definition.
TEST(Face, AnySliceOfAnyBufferGivesTheRepeatsOfItsCopy) {
  std::mt19937 rng(2026);
  const std::string globin = bases_of("tests/data/human_beta_globin_HUMHBB.fa");
  const std::string lambda = bases_of("examples/phage_lambda_NC_001416.fa");
  Workspace workspace;  // reused by every call
  int with_repeats = 0;
  for (int k = 0; k < 1000; ++k) {
    std::string bases;
    const size_t length = 60 + rng() % 240;
    if (k % 2 == 0) {
      const std::string unit = std::string("ACGTTGCA").substr(rng() % 4, 1 + rng() % 4);
      while (bases.size() < length) bases += rng() % 5 == 0 ? unit : std::string(1, "ACGT"[rng() % 4]);
    } else {
      const std::string& from = k % 4 == 1 ? globin : lambda;
      bases = from.substr(rng() % (from.size() - length), length);
    }
    bases.resize(length);
    std::string buffer;
    for (size_t i = 0; i < 40; ++i) buffer += static_cast<char>(1 + rng() % 255);
    const size_t at = buffer.size();
    buffer += bases;
    for (size_t i = 0; i < 40; ++i) buffer += "ACGT"[rng() % 4];  // bases that must not count
    Options options;
    options.definition = 1 + k % 3;
    options.max_motif = 1 + static_cast<int32_t>(rng() % 60);
    const Result found = find_repeats(std::string_view(buffer).substr(at, length), options, workspace);
    ASSERT_TRUE(std::holds_alternative<std::vector<Repeat>>(found)) << k;
    const auto expected = detected(bases, options);
    ASSERT_EQ(starts(found), expected) << "sequence " << k << " definition " << options.definition;
    with_repeats += expected.empty() ? 0 : 1;
  }
  EXPECT_GT(with_repeats, 150);  // the comparison is not of empty lists
}

TEST(Face, OptionsFailuresThreadsAndCancellation) {
  Options bad;
  bad.max_motif = 501;
  EXPECT_EQ(bad.validate(), "--max-motif must be a whole number from 1 to 500 (got '501')");
  bad = Options{};
  bad.definition = 1;
  bad.level = 201;
  EXPECT_EQ(bad.validate(), "--level must be a whole number from 50 to 100 x match = 200 (got '201')");
  bad = Options{};
  bad.definition = 3;
  bad.min_score = 29;
  EXPECT_EQ(bad.validate(), "--min-score must be a whole number from 30 to 150 (got '29')");
  Workspace workspace;
  const Result refused = find_repeats("ACGTACGT", bad, workspace);
  ASSERT_TRUE(std::holds_alternative<Failure>(refused));
  EXPECT_EQ(std::get<Failure>(refused).cause, Failure::Cause::kInvalidOptions);

  Options no_quota;
  no_quota.definition = 1;
  no_quota.mismatch = no_quota.gap = no_quota.terminal_gap = 0;
  const Result quota = find_repeats(bases_of("tests/data/band.fa"), no_quota, workspace);
  ASSERT_TRUE(std::holds_alternative<Failure>(quota));
  EXPECT_EQ(std::get<Failure>(quota).cause, Failure::Cause::kNoQuota);

  const std::string globin = bases_of("tests/data/human_beta_globin_HUMHBB.fa");
  Options three;
  three.definition = 3;
  three.max_motif = 60;
  // Every definition searches its motif lengths on the threads it is given:
  // the same repeats, to the text of every value, on 1, 2 and 5 threads.
  auto everything = [](const Result& result) {
    std::ostringstream out;
    for (const Repeat& r : std::get<std::vector<Repeat>>(result)) {
      out << r.start << ' ' << r.end << ' ' << r.motif_start << ' ' << r.motif_length << ' ' << r.units_text
          << ' ' << r.value_text << '\n';
    }
    return out.str();
  };
  for (int definition : {1, 2, 3}) {
    three.definition = definition;
    const Result one = find_repeats(globin, three, workspace, RunControl{1});
    ASSERT_TRUE(std::holds_alternative<std::vector<Repeat>>(one));
    EXPECT_FALSE(starts(one).empty());
    for (int threads : {2, 5}) {
      const Result several = find_repeats(globin, three, workspace, RunControl{threads});
      ASSERT_TRUE(std::holds_alternative<std::vector<Repeat>>(several));
      EXPECT_EQ(everything(one), everything(several)) << definition << " on " << threads << " threads";
    }
  }

  const std::atomic<bool> stop{true};
  for (int threads : {1, 3}) {
    for (int definition : {1, 3}) {
      three.definition = definition;
      const Result cancelled = find_repeats(globin, three, workspace, RunControl{threads, nullptr, &stop});
      ASSERT_TRUE(std::holds_alternative<Failure>(cancelled));
      EXPECT_EQ(std::get<Failure>(cancelled).cause, Failure::Cause::kCancelled);
    }
  }
}

}  // namespace
}  // namespace rivulon::testing
