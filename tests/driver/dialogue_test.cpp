#include "driver/dialogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "driver/fatal.h"

namespace rivulon {
namespace {

// A read-only stream over `text`.
struct TextStream {
  explicit TextStream(const std::string& text) : data(text) {
    f = fmemopen(data.data(), data.size(), "r");
  }
  ~TextStream() { std::fclose(f); }
  std::string data;
  std::FILE* f;
};

TEST(ReadNumber, ReadsLikePercentD) {
  TextStream in("  42\n-7 +3x");
  EXPECT_EQ(read_number(in.f), 42);
  EXPECT_EQ(std::getc(in.f), '\n');  // the character after the number stays
  EXPECT_EQ(read_number(in.f), -7);
  EXPECT_EQ(read_number(in.f), 3);
  EXPECT_FALSE(read_number(in.f).has_value());  // 'x' is no number
  EXPECT_EQ(std::getc(in.f), 'x');
  EXPECT_FALSE(read_number(in.f).has_value());  // end of input
}

TEST(ReadNumber, HugeValuesNeverWrapIntoRange) {
  TextStream in("4294967297 99999999999999999999999 -99999999999999999999");
  EXPECT_GT(*read_number(in.f), 1000000);
  EXPECT_GT(*read_number(in.f), 1000000);
  EXPECT_LT(*read_number(in.f), 0);
}

TEST(ReadAnswer, KeepsTheSecondCharacter) {
  TextStream in("\nY\ny\nN\nx\n ");
  EXPECT_TRUE(read_answer(in.f));
  EXPECT_TRUE(read_answer(in.f));
  EXPECT_FALSE(read_answer(in.f));
  EXPECT_FALSE(read_answer(in.f));  // any other letter is no
  EXPECT_FALSE(read_answer(in.f));  // so is a blank
}

TEST(ReadAnswer, EndOfInputIsNo) {
  TextStream empty("");
  EXPECT_FALSE(read_answer(empty.f));
  TextStream one("\n");
  EXPECT_FALSE(read_answer(one.f));
}

TEST(Dialogue, StoresTheAnswersAsTheLibrarysOptions) {
  TextStream in("2\n7\n7\n3\n100\n1\n70\nY\nn\n");
  char buffer[4096];
  std::FILE* out = fmemopen(buffer, sizeof buffer, "w");
  RunSettings s;
  run_dialogue(in.f, out, s);
  std::fclose(out);
  EXPECT_EQ(s.match, 2);
  EXPECT_EQ(s.mismatch, 7);
  EXPECT_EQ(s.gap, 7);
  EXPECT_EQ(s.terminal_gap, 3);
  EXPECT_EQ(s.max_motif, 100);
  EXPECT_EQ(s.definition, 1);
  EXPECT_EQ(s.level, 70);
  EXPECT_EQ(s.validate(), "");
  EXPECT_EQ(s.alignments, 1);
  EXPECT_EQ(s.text_report, 0);
}

TEST(Dialogue, RejectsThroughFatalWithStatus3000) {
  TextStream in("2\n7\n7\n3\n100\n4\n");
  char buffer[4096] = {};
  std::FILE* out = fmemopen(buffer, sizeof buffer, "w");
  RunSettings s;
  try {
    run_dialogue(in.f, out, s);
    FAIL() << "definition 4 accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.status, 3000);
  }
  std::fclose(out);
  EXPECT_NE(std::strstr(buffer, "\nerror in parameters\n\nNot a valid integer"), nullptr);
}

}  // namespace
}  // namespace rivulon
