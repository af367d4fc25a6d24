// Runs that do not finish, runs that meet each other, and files from outside:
// what the program leaves in its folder. The ordinary transcripts of these
// cases are golden runs; here are the ones that need a signal, a second run
// or a limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "report/output_file.h"
#include "test_support.h"

namespace rivulon::testing {
namespace {

// A random sequence of `length` bases with a few tandem arrays, on lines of 60.
std::string long_sequence(size_t length) {
  std::mt19937 rng(17);
  std::string s = ">long\n";
  std::string line;
  while (line.size() < length) {
    if (rng() % 2000 == 0) {
      std::string unit;
      for (int i = 0, n = 2 + static_cast<int>(rng() % 40); i < n; ++i) unit += "ACGT"[rng() % 4];
      for (int i = 0; i < 8; ++i) line += unit;
    } else {
      line += "ACGT"[rng() % 4];
    }
  }
  for (size_t i = 0; i < line.size(); i += 60) s += line.substr(i, 60) + "\n";
  return s;
}

// The names in `dir` that start with ".rivulon-": temporaries and lock files.
std::vector<std::string> leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".rivulon-", 0) == 0) names.push_back(name);
  }
  return names;
}

// Waits until `path` exists (20 s at most).
bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    if (exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

const std::string kLongAnswers = "2\n7\n7\n3\n500\n1\n80\nY\nY\n";

class InterruptedRun : public ::testing::TestWithParam<int> {};

TEST_P(InterruptedRun, LeavesTheFailurePageAndNoTemporary) {
  const int sig = GetParam();
  ScratchDir dir;
  write_file(dir.file("long.fa"), long_sequence(3000000));
  write_file(dir.file("align_long.html"), "previous alignments");
  const RunningProgram run = start_program(dir.path(), {"long.fa"}, kLongAnswers);
  ASSERT_TRUE(wait_for_file(dir.file("atr_long.html")));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(run.pid, sig);
  const ProcessResult result = finish_program(run);
  EXPECT_EQ(result.signal, sig);  // a shell reports 128 + signal
  const std::string page = read_file(dir.file("atr_long.html"));
  EXPECT_NE(page.find("The run did not finish."), std::string::npos);
  EXPECT_NE(page.find(sig == SIGINT ? "interrupted by SIGINT" : "interrupted by SIGTERM"),
            std::string::npos);
  EXPECT_NE(page.find("Exit status: " + std::to_string(128 + sig)), std::string::npos);
  EXPECT_EQ(read_file(dir.file("align_long.html")), "previous alignments");
  EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRun, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::string(param.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

TEST(SecondRun, RefusedWhileAnotherWritesTheSameReportInTheFolder) {
  ScratchDir dir;
  write_file(dir.file("long.fa"), long_sequence(3000000));
  const RunningProgram first = start_program(dir.path(), {"long.fa"}, kLongAnswers, "-first");
  ASSERT_TRUE(wait_for_file(dir.file("atr_long.html")));
  const ProcessResult second = run_program(dir.path(), {"long.fa"}, kLongAnswers);
  EXPECT_EQ(second.status, 75);
  EXPECT_NE(second.out.find("rivulon: another run is writing atr_long.html in this folder"),
            std::string::npos);
  // Another name in the same folder is not held up.
  write_file(dir.file("short.fa"), "ACGTACGTACGTAAAA\n");
  EXPECT_EQ(run_program(dir.path(), {"short.fa"}, "2\n7\n7\n3\n5\n1\n80\nN\nN\n").status, 0);
  kill(first.pid, SIGTERM);
  EXPECT_EQ(finish_program(first).signal, SIGTERM);
  EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST(StaleTemporaries, OnlyTheLeftoversOfGoneRunsAreRemoved) {
  ScratchDir dir;
  write_file(dir.file("t.fa"), "TTGACGACGACGACTT\n");
  // A process that has certainly ended, and this test's own (living) process.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = temporary_prefix(gone) + "abcdef";
  const std::string alive = temporary_prefix(getpid()) + "abcdef";
  // Another host's temporary of a process id that is gone here says nothing
  // about that host's process; nor does a name of another form.
  char other_host[64];
  std::snprintf(other_host, sizeof other_host, ".rivulon-elsewhere-%07d-abcdef", static_cast<int>(gone));
  const std::vector<std::string> kept = {alive, other_host, temporary_prefix(12) + "toolong",
                                         ".rivulon-notours"};
  for (const std::string& name : kept) write_file(dir.file(name), "x");
  write_file(dir.file(dead), "x");
  // Last changed a minute ago, before the run.
  const timeval past[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
  for (const std::string& name : kept) utimes(dir.file(name).c_str(), past);
  utimes(dir.file(dead).c_str(), past);
  ASSERT_EQ(run_program(dir.path(), {"t.fa"}, "1\n1\n2\n2\n10\n1\n80\nN\nN\n").status, 0);
  EXPECT_FALSE(exists(dir.file(dead)));
  for (const std::string& name : kept) EXPECT_TRUE(exists(dir.file(name))) << name;
}

TEST(LongNames, EveryFinalNameThatFitsIsWritten) {
  ScratchDir dir;
  // atr_<236 characters>.html is 245 characters: it fits, and so must its temporary.
  const std::string stem(236, 'n');
  write_file(dir.file(stem + ".fa"), "TTGACGACGACGACTT\n");
  const ProcessResult r = run_program(dir.path(), {stem + ".fa"}, "1\n1\n2\n2\n10\n1\n80\nY\nY\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(exists(dir.file("atr_" + stem + ".html")));
  EXPECT_TRUE(exists(dir.file("align_" + stem + ".html")));
  EXPECT_TRUE(exists(dir.file("atr_" + stem + ".txt")));
}

void limit_address_space() {
  const rlimit limit{48u << 20, 48u << 20};
  setrlimit(RLIMIT_AS, &limit);
}

TEST(OutOfMemory, ReportedWithStatus142AndTheFailurePage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  ScratchDir dir;
  // Eight million bases: the sequence fits in the limit, the detection's tables do not.
  write_file(dir.file("big.fa"), long_sequence(8000000));
  const ProcessResult r = finish_program(
      start_program(dir.path(), {"big.fa"}, "2\n7\n7\n3\n500\n1\n80\nN\nN\n", "", limit_address_space));
  EXPECT_EQ(r.status, 142);
  EXPECT_NE(r.out.find("allocation error.check sufficient sapce is available"), std::string::npos);
  EXPECT_EQ(r.out.find("terminate"), std::string::npos);
  const std::string page = read_file(dir.file("atr_big.html"));
  EXPECT_NE(page.find("Not enough memory."), std::string::npos);
  EXPECT_NE(page.find("Exit status: 142"), std::string::npos);
  EXPECT_TRUE(leftovers(dir.path()).empty());
}

}  // namespace
}  // namespace rivulon::testing

namespace rivulon::testing {
namespace {

void one_thread() { setenv("RIVULON_THREADS", "1", 1); }
void three_threads() { setenv("RIVULON_THREADS", "3", 1); }

// The same bytes whatever the number of threads, for every definition.
TEST(Threads, OutputsDoNotDependOnTheirNumber) {
  ScratchDir one, three;
  const std::string sequence = long_sequence(60000);
  for (const ScratchDir* dir : {&one, &three}) write_file(dir->file("t.fa"), sequence);
  for (int definition = 1; definition <= 3; ++definition) {
    const std::string input = "2\n7\n7\n3\n200\n" + std::to_string(definition) +
                              (definition == 3 ? "\n50\nY\nY\n" : "\n80\nY\nY\n");
    ASSERT_EQ(finish_program(start_program(one.path(), {"t.fa"}, input, "", one_thread)).status, 0);
    ASSERT_EQ(finish_program(start_program(three.path(), {"t.fa"}, input, "", three_threads)).status, 0);
    for (const char* name : {"atr_t.html", "align_t.html", "atr_t.txt"}) {
      EXPECT_EQ(read_file(one.file(name)), read_file(three.file(name))) << definition << " " << name;
    }
  }
  const std::string text = read_file(one.file("atr_t.txt"));
  EXPECT_GT(std::count(text.begin(), text.end(), '\r'), 3);  // rows beside the column line
}

}  // namespace
}  // namespace rivulon::testing
