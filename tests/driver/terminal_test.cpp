// What a person at a terminal sees besides the dialogue: a progress line on
// standard error while the motif lengths are screened, then where the pages
// went. Standard output and every file stay as they are without a terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver/messages.h"
#include "test_support.h"

namespace rivulon::testing {
namespace {

TEST(TerminalProgress, OnlyOnATerminalAndNothingElseChanges) {
  ScratchDir plain_dir, terminal_dir;
  for (const ScratchDir* dir : {&plain_dir, &terminal_dir}) {
    std::filesystem::copy_file(repo_file("examples/phage_lambda_NC_001416.fa"), dir->file("l.fa"));
  }
  const std::string input = answers(2, 7, 7, 3, 100, 1, 80, 'Y', 'Y');
  const ProcessResult plain = run_program(plain_dir.path(), {"l.fa"}, input);
  const ProcessResult shown = run_with_terminal(program_path(), terminal_dir.path(), {"l.fa"}, input);
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(shown.status, 0);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(shown.out, plain.out);
  for (const char* page : {"atr_l.html", "align_l.html", "atr_l.txt"}) {
    EXPECT_EQ(read_file(terminal_dir.file(page)), read_file(plain_dir.file(page))) << page;
  }
  // The line, rewritten in place, then cleared; the pages' paths after it
  // (the terminal shows "\n" as "\r\n").
  const std::string& err = shown.err;
  // (The first line may come after the first lengths: the detection does not wait for it.)
  EXPECT_EQ(err.rfind("\r\033[Kmotif length ", 0), 0u) << err;
  EXPECT_NE(err.find(" of 100  "), std::string::npos) << err;
  EXPECT_NE(err.find(" elapsed"), std::string::npos) << err;
  const size_t cleared = err.rfind("\r\033[K");
  ASSERT_NE(cleared, std::string::npos);
  const std::string after = err.substr(cleared + 4);
  const std::string folder = std::filesystem::canonical(terminal_dir.path()).string();
  EXPECT_EQ(after, "Report page:     " + folder + "/atr_l.html\r\n" +
                       "Alignments page: " + folder + "/align_l.html\r\n" +
                       "Text report:     " + folder + "/atr_l.txt\r\n");
}

TEST(TerminalProgress, LineText) {
  EXPECT_EQ(progress_text(0, 500, 0), "motif length 1 of 500  0.0%  0:00:00 elapsed");
  // 125 of 500 lengths are 39,125 of 250,250 work units: 15.6%.
  EXPECT_EQ(progress_text(125, 500, 10), "motif length 126 of 500  15.6%  0:00:10 elapsed  about 0:00:54 left");
  EXPECT_EQ(progress_text(1, 1, 3), "motif length 1 of 1  100.0%  0:00:03 elapsed");
  EXPECT_EQ(progress_text(500, 500, 61), "motif length 500 of 500  100.0%  0:01:01 elapsed");
  EXPECT_EQ(progress_text(0, 0, 0), "motif length 1 of 1  0.0%  0:00:00 elapsed");  // nothing to screen
}

// A failure ends the line before its message; standard output as without a terminal.
TEST(TerminalProgress, ClearedBeforeAFailure) {
  ScratchDir dir;
  write_file(dir.file("t.fa"), ">t\nACGTACGTAAAACCCCGGGGTTTTACGTACGTACGATCGATGCA\n");
  const std::string input = answers(2, 7, 0, 3, 10, 1, 80, 'N', 'N');
  const ProcessResult plain = run_program(dir.path(), {"t.fa"}, input);
  const ProcessResult shown = run_with_terminal(program_path(), dir.path(), {"t.fa"}, input);
  EXPECT_EQ(shown.status, plain.status);
  EXPECT_NE(plain.status, 0);
  EXPECT_EQ(shown.out, plain.out);
  const size_t cleared = shown.err.find("\r\033[Krivulon: motif length");
  EXPECT_NE(cleared, std::string::npos) << shown.err;
}

}  // namespace
}  // namespace rivulon::testing
