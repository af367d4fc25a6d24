#include "driver/sequence.h"

#include "align/sequence.h"
#include "stats/composition.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/fatal.h"
#include "test_support.h"

namespace rivulon {
namespace {

Sequence load(const std::string& text) {
  std::FILE* f = testing::stream_of(text);
  Sequence seq = load_sequence(f);
  std::fclose(f);
  return seq;
}

std::string bases(const Sequence& seq) { return std::string(seq.bases(), static_cast<size_t>(seq.n)); }

int load_status(const std::string& text) {
  try {
    load(text);
  } catch (const FatalError& e) {
    return e.status;
  }
  return 0;
}

TEST(LoadSequence, PlainLine) {
  Sequence seq = load("ACGT\n");
  EXPECT_EQ(bases(seq), "ACGT");
}

TEST(LoadSequence, HeaderSkippedAndCaseKept) {
  Sequence seq = load(">chr1 some words ACGT\nACGTacgt\n");
  EXPECT_EQ(bases(seq), "ACGTacgt");
  EXPECT_EQ(seq.n, 8);
  EXPECT_EQ(seq.bases()[8], '\0');
}

TEST(LoadSequence, BlanksAndLineEndsIgnored) {
  EXPECT_EQ(bases(load("AC GT\r\n")), "ACGT");
}

TEST(LoadSequence, HeadersAnywhereJoinTheBases) {
  EXPECT_EQ(bases(load("AC>middle header\r\nGT\n>last header without line end")), "ACGT");
  EXPECT_EQ(bases(load("AC>x\nGT")), "ACGT");
}

TEST(LoadSequence, InvalidCharactersEndWith5505) {
  EXPECT_EQ(load_status("ACGN\n"), 5505);
  EXPECT_EQ(load_status("AC\tGT\n"), 5505);
  EXPECT_EQ(load_status("ACGU"), 5505);
  EXPECT_EQ(load_status(std::string("AC\0GT", 5)), 5505);
  EXPECT_EQ(load_status("AC\xc3\xa9"), 5505);
}

TEST(LoadSequence, EmptyAndHeaderOnlyFilesAreEmpty) {
  EXPECT_EQ(load("").n, 0);
  EXPECT_EQ(load(">only a header\n\n>another\n").n, 0);
}

TEST(LoadSequence, EveryLengthAroundTheBufferSizesKeepsItsBasesAndEndsWithNul) {
  for (int length = 0; length <= 70; ++length) {
    std::string bases;
    for (int i = 0; i < length; ++i) bases += "ACGT"[i % 4];
    Sequence seq = load(">h\n" + bases + "\n");
    ASSERT_EQ(seq.n, length);
    EXPECT_EQ(std::string(seq.bases()), bases) << length;  // stops at the NUL after the bases
  }
}

TEST(LoadSequence, MatchProbabilityOfOneBaseInEitherCase) {
  const Sequence seq = load("AAaa");
  EXPECT_EQ(match_probability(count_bases(SequenceView{seq.bases(), seq.n}), seq.n), 1.0);
}

TEST(SameBase, PositionsAtOrBeyondTheEndNeverMatch) {
  const char s[] = "AAAA";
  EXPECT_TRUE(same_base(s, 4, 0, 3));
  EXPECT_FALSE(same_base(s, 4, 3, 4));
  EXPECT_FALSE(same_base(s, 3, 0, 3));
}

}  // namespace
}  // namespace rivulon
