// The program as a user meets it: prompts, messages, exit statuses and files.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace rivulon::testing {
namespace {

const std::string kHeading = "\nerror in parameters\n";
const std::string kNotInteger = kHeading + "\nNot a valid integer";
const std::string kNegative = kHeading + "\nAlignment Parameter are positive integers.";
const std::string kUsage =
    kHeading + "\nTo run rivulon only specify the input files (1 input sequence and an optional "
               "file with CDRs";

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir.file("seq.fa"), ">s\nACGTACGTAC\n"); }
  ProcessResult run(const std::string& input, std::vector<std::string> args = {"seq.fa"}) {
    return run_program(dir.path(), args, input);
  }
  ScratchDir dir;
};

std::string prompts_through(int step) {
  static const char* kPrompts[] = {
      "Please insert the desired alignment parameters (whole positive numbers)\nMatch score: ",
      "Mismatch penalty: ", "Gap (insertion or deletion) penalty: ", "Terminal gap penalty: ",
      "Please insert the desired maximum motif length (1-500): ",
      "Please choose the desired definition of an ATR\n"
      "1 - Using the similarity level between adjacent copies\n"
      "2 - Using the average similarity level between adjacent copies\n"
      "3 - Using the alignment score with a repeating pattern\n"
      "Definition (1-3): "};
  std::string s;
  for (int i = 0; i <= step; ++i) s += kPrompts[i];
  return s;
}

TEST_F(ProgramTest, WrongArgumentCountEndsWith2000) {
  ProcessResult none = run("", {});
  EXPECT_EQ(none.status, 2000 % 256);
  EXPECT_EQ(none.out, kUsage);
  ProcessResult three = run("", {"a", "b", "c"});
  EXPECT_EQ(three.status, 208);
  EXPECT_EQ(three.out, kUsage);
}

TEST_F(ProgramTest, NegativeAlignmentParameterRejectedRightAfterItsPrompt) {
  const char* inputs[] = {"-1\n", "2\n-1\n", "2\n7\n-1\n", "2\n7\n7\n-1\n"};
  for (int step = 0; step < 4; ++step) {
    ProcessResult r = run(inputs[step]);
    EXPECT_EQ(r.status, 3000 % 256) << step;
    EXPECT_EQ(r.out, prompts_through(step) + kNegative) << step;
  }
}

TEST_F(ProgramTest, OversizedAlignmentParameterRejected) {
  ProcessResult r = run("1000001\n");
  EXPECT_EQ(r.status, 184);
  EXPECT_EQ(r.out, prompts_through(0) + kNegative);
  EXPECT_EQ(run("2\n1000000\n7\n3\n5\n1\n50\nN\nN\n").status, 0);
}

TEST_F(ProgramTest, ZeroParametersAccepted) {
  ProcessResult r = run("0\n0\n0\n0\n5\n3\n30\nN\nN\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, full_dialogue(3));
}

TEST_F(ProgramTest, MaximumMotifLengthBounds) {
  EXPECT_EQ(run("2\n7\n7\n3\n500\n1\n80\nN\nN\n").status, 0);
  for (const char* bad : {"501", "0", "-3"}) {
    ProcessResult r = run(std::string("2\n7\n7\n3\n") + bad + "\n");
    EXPECT_EQ(r.status, 184) << bad;
    EXPECT_EQ(r.out, prompts_through(4) + kNotInteger) << bad;
  }
}

TEST_F(ProgramTest, DefinitionMustBeOneToThree) {
  for (const char* bad : {"4", "0"}) {
    ProcessResult r = run(std::string("2\n7\n7\n3\n10\n") + bad + "\n");
    EXPECT_EQ(r.status, 184);
    EXPECT_EQ(r.out, prompts_through(5) + kNotInteger);
  }
}

TEST_F(ProgramTest, SimilarityLevelBounds) {
  const std::string prompt =
      prompts_through(5) + "Minimum Similarity Level: (minimum - 50; maximum - Match Score*100):";
  EXPECT_EQ(run("2\n7\n7\n3\n10\n1\n50\nN\nN\n").status, 0);
  EXPECT_EQ(run("2\n7\n7\n3\n10\n2\n200\nN\nN\n").status, 0);
  for (const char* bad : {"49", "201"}) {
    ProcessResult r = run(std::string("2\n7\n7\n3\n10\n1\n") + bad + "\n");
    EXPECT_EQ(r.status, 184) << bad;
    EXPECT_EQ(r.out, prompt + kNotInteger) << bad;
  }
  // A match score of 0 leaves no acceptable level under definitions 1 and 2.
  EXPECT_EQ(run("0\n7\n7\n3\n10\n1\n50\n").status, 184);
  EXPECT_EQ(run("0\n7\n7\n3\n10\n2\n0\n").status, 184);
}

TEST_F(ProgramTest, ScoreBounds) {
  const std::string prompt = prompts_through(5) + "Minimum score to report (30-150):";
  EXPECT_EQ(run("2\n7\n7\n3\n10\n3\n30\nN\nN\n").status, 0);
  EXPECT_EQ(run("2\n7\n7\n3\n10\n3\n150\nN\nN\n").status, 0);
  for (const char* bad : {"29", "151"}) {
    ProcessResult r = run(std::string("2\n7\n7\n3\n10\n3\n") + bad + "\n");
    EXPECT_EQ(r.status, 184);
    EXPECT_EQ(r.out, prompt + kNotInteger);
  }
}

TEST_F(ProgramTest, NonNumericAndMissingAnswersRejectedWithThePromptsCode) {
  ProcessResult letters = run("two\n");
  EXPECT_EQ(letters.status, 184);
  EXPECT_EQ(letters.out, prompts_through(0) + kNegative);
  ProcessResult missing = run("2\n7\n7\n3\n");
  EXPECT_EQ(missing.status, 184);
  EXPECT_EQ(missing.out, prompts_through(4) + kNotInteger);
  ProcessResult empty = run("");
  EXPECT_EQ(empty.out, prompts_through(0) + kNegative);
}

TEST_F(ProgramTest, AnswersChooseTheExtraFiles) {
  ProcessResult yes = run("2\n7\n7\n3\n10\n1\n80\ny\nY\n");
  EXPECT_EQ(yes.status, 0);
  EXPECT_EQ(yes.out, full_dialogue(1));
  EXPECT_TRUE(exists(dir.file("align_seq.html")));
  EXPECT_TRUE(exists(dir.file("atr_seq.txt")));
}

TEST_F(ProgramTest, OtherAnswersAndEndOfInputMeanNo) {
  ProcessResult r = run("2\n7\n7\n3\n10\n1\n80\nq\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(exists(dir.file("atr_seq.html")));
  EXPECT_FALSE(exists(dir.file("align_seq.html")));
  EXPECT_FALSE(exists(dir.file("atr_seq.txt")));
}

TEST_F(ProgramTest, MissingSequenceFileEndsWith140BeforeAnyPage) {
  ProcessResult r = run("2\n7\n7\n3\n10\n1\n80\nN\nN\n", {"absent.fa"});
  EXPECT_EQ(r.status, 140);
  EXPECT_EQ(r.out, full_dialogue(1) + "Error in openning input file for read\n");
  EXPECT_FALSE(exists(dir.file("atr_absent.html")));
}

TEST_F(ProgramTest, DirectoryAsSequenceFileIsUnreadable) {
  std::filesystem::create_directories(dir.file("folder.fa"));
  ProcessResult r = run("2\n7\n7\n3\n10\n1\n80\nN\nN\n", {"folder.fa"});
  EXPECT_EQ(r.status, 140);
  EXPECT_EQ(r.out, full_dialogue(1) + "Error in openning input file for read\n");
  EXPECT_FALSE(exists(dir.file("atr_folder.html")));
}

TEST_F(ProgramTest, InvalidSequenceLeavesTheProvisionalPage) {
  write_file(dir.file("bad.fa"), "ACGTN\n");
  ProcessResult r = run("2\n7\n7\n3\n10\n1\n80\nN\nN\n", {"bad.fa"});
  EXPECT_EQ(r.status, 5505 % 256);
  EXPECT_EQ(r.out, full_dialogue(1) + "error! input file is not valid\n");
  EXPECT_EQ(read_file(dir.file("atr_bad.html")),
            page_head_body() +
                "<p align=\"left\"><font size=\"4\">Please press Refresh.</font></p>"
                "<p align=\"left\"><font size=\"4\">The output will be ready shortly. </font></p>");
}

TEST_F(ProgramTest, MaximumMotifLengthLoweredToHalfTheSequence) {
  // With gap penalty 0, match 2 and level 50 no window exists from L = 4 on:
  // 8 bases allow M = 4 and the run stops there; 7 bases lower M to 3.
  write_file(dir.file("eight.fa"), "ACGTTGCA\n");
  write_file(dir.file("seven.fa"), "ACGTTGC\n");
  const std::string input = "2\n7\n0\n3\n10\n1\n50\nN\nN\n";
  ProcessResult stopped = run(input, {"eight.fa"});
  EXPECT_EQ(stopped.status, 5000 % 256);
  EXPECT_EQ(stopped.out, full_dialogue(1));
  EXPECT_EQ(run(input, {"seven.fa"}).status, 0);
}

TEST_F(ProgramTest, EmptySequenceRunsToAnEmptyReport) {
  write_file(dir.file("empty.fa"), ">nothing here\n");
  for (int definition = 1; definition <= 3; ++definition) {
    ProcessResult r = run(definition == 3 ? "2\n7\n7\n3\n10\n3\n50\nN\nN\n"
                                          : "2\n7\n7\n3\n10\n" + std::to_string(definition) + "\n80\nN\nN\n",
                          {"empty.fa"});
    EXPECT_EQ(r.status, 0) << definition;
    EXPECT_NE(read_file(dir.file("atr_empty.html")).find("Sequence length: 0</p><table"),
              std::string::npos);
  }
}

TEST_F(ProgramTest, OutputsNamedAfterTheBaseNameInTheCurrentDirectory) {
  std::filesystem::create_directories(dir.file("data"));
  write_file(dir.file("data/x.y.fa"), "ACGTACGTAC\n");
  write_file(dir.file("plain"), "ACGTACGTAC\n");
  const std::string input = "2\n7\n7\n3\n10\n1\n80\nY\nY\n";
  EXPECT_EQ(run(input, {"data/x.y.fa"}).status, 0);
  EXPECT_TRUE(exists(dir.file("atr_x.y.html")));
  EXPECT_TRUE(exists(dir.file("align_x.y.html")));
  EXPECT_TRUE(exists(dir.file("atr_x.y.txt")));
  EXPECT_EQ(run(input, {"plain"}).status, 0);
  EXPECT_TRUE(exists(dir.file("atr_plain.html")));
  EXPECT_TRUE(exists(dir.file("atr_plain.txt")));
}

}  // namespace
}  // namespace rivulon::testing
