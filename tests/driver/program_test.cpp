// The dialogue's bounds as a user meets them: which answers a run accepts
// (status 0) and which it refuses (status 3000, seen as 184). The transcripts
// of refusals, failures and ordinary runs are pinned by the golden runs.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace rivulon::testing {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir.file("seq.fa"), ">s\nACGTACGTAC\n"); }
  int status(const std::string& input, std::vector<std::string> args = {"seq.fa"}) {
    return run_program(dir.path(), args, input).status;
  }
  ScratchDir dir;
};

constexpr int kRefused = 3000 % 256;

TEST_F(ProgramTest, AlignmentParametersFromZeroToOneMillion) {
  EXPECT_EQ(status("0\n0\n0\n0\n5\n3\n30\nN\nN\n"), 0);
  EXPECT_EQ(status("2\n1000000\n7\n3\n5\n1\n50\nN\nN\n"), 0);
  for (const char* prefix : {"", "2\n", "2\n7\n", "2\n7\n7\n"}) {
    EXPECT_EQ(status(std::string(prefix) + "-1\n"), kRefused) << prefix;
    EXPECT_EQ(status(std::string(prefix) + "1000001\n"), kRefused) << prefix;
    EXPECT_EQ(status(std::string(prefix) + "x\n"), kRefused) << prefix;
  }
  EXPECT_EQ(status(""), kRefused);
}

TEST_F(ProgramTest, MaximumMotifLengthFromOneTo500) {
  EXPECT_EQ(status("2\n7\n7\n3\n500\n1\n80\nN\nN\n"), 0);
  EXPECT_EQ(status("2\n7\n7\n3\n1\n1\n80\nN\nN\n"), 0);
  for (const char* bad : {"501", "0", "-3", "", "x"}) {
    EXPECT_EQ(status(std::string("2\n7\n7\n3\n") + bad + "\n"), kRefused) << bad;
  }
}

TEST_F(ProgramTest, DefinitionFromOneToThree) {
  for (const char* bad : {"4", "0", "-1"}) {
    EXPECT_EQ(status(std::string("2\n7\n7\n3\n10\n") + bad + "\n"), kRefused) << bad;
  }
}

TEST_F(ProgramTest, SimilarityLevelFrom50ToHundredTimesTheMatchScore) {
  EXPECT_EQ(status("2\n7\n7\n3\n10\n1\n50\nN\nN\n"), 0);
  EXPECT_EQ(status("2\n7\n7\n3\n10\n2\n200\nN\nN\n"), 0);
  for (const char* bad : {"49", "201"}) {
    EXPECT_EQ(status(std::string("2\n7\n7\n3\n10\n1\n") + bad + "\n"), kRefused) << bad;
    EXPECT_EQ(status(std::string("2\n7\n7\n3\n10\n2\n") + bad + "\n"), kRefused) << bad;
  }
  // A match score of 0 leaves no acceptable level under definitions 1 and 2.
  EXPECT_EQ(status("0\n7\n7\n3\n10\n1\n50\n"), kRefused);
  EXPECT_EQ(status("0\n7\n7\n3\n10\n2\n0\n"), kRefused);
}

TEST_F(ProgramTest, MinimumScoreFrom30To150) {
  EXPECT_EQ(status("2\n7\n7\n3\n10\n3\n30\nN\nN\n"), 0);
  EXPECT_EQ(status("2\n7\n7\n3\n10\n3\n150\nN\nN\n"), 0);
  for (const char* bad : {"29", "151"}) {
    EXPECT_EQ(status(std::string("2\n7\n7\n3\n10\n3\n") + bad + "\n"), kRefused) << bad;
  }
}

TEST_F(ProgramTest, MaximumMotifLengthLoweredToHalfTheSequence) {
  // With gap penalty 0, match 2 and level 50 no window exists from L = 4 on:
  // 8 bases allow M = 4 and the run stops there (status 5000); 7 bases lower M to 3.
  write_file(dir.file("eight.fa"), "ACGTTGCA\n");
  write_file(dir.file("seven.fa"), "ACGTTGC\n");
  const std::string input = "2\n7\n0\n3\n10\n1\n50\nN\nN\n";
  EXPECT_EQ(status(input, {"eight.fa"}), 5000 % 256);
  EXPECT_EQ(status(input, {"seven.fa"}), 0);
}

}  // namespace
}  // namespace rivulon::testing
