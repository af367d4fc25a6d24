#include "report/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>
#include <string>

#include "test_support.h"

namespace rivulon::testing {
namespace {

size_t entries(const std::string& dir) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++count;
  return count;
}

TEST(OutputFile, CompletePageReplacesTheOldOne) {
  ScratchDir dir;
  const std::string name = dir.file("page.html");
  write_file(name, "provisional");
  OutputFile out;
  ASSERT_TRUE(out.open(name));
  std::fputs("complete report", out.stream());
  EXPECT_EQ(read_file(name), "provisional");  // nothing visible before completion
  EXPECT_TRUE(out.commit());
  EXPECT_EQ(read_file(name), "complete report");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(OutputFile, WriterFailingMidwayLeavesThePreviousFileAndNoTemporary) {
  ScratchDir dir;
  const std::string name = dir.file("page.html");
  write_file(name, "provisional");
  OutputFile out;
  ASSERT_TRUE(out.open(name));
  std::fputs("the first half", out.stream());
  std::fflush(out.stream());
  // From here on every write fails, as on a full disk.
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  dup2(full, fileno(out.stream()));
  close(full);
  std::string more(1 << 16, 'x');
  std::fputs(more.c_str(), out.stream());
  EXPECT_FALSE(out.commit());
  EXPECT_EQ(read_file(name), "provisional");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(OutputFile, AbandonedPageLeavesNothingBehind) {
  ScratchDir dir;
  {
    OutputFile out;
    ASSERT_TRUE(out.open(dir.file("page.html")));
    std::fputs("partial", out.stream());
  }
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(OutputFile, UncreatableTemporaryReported) {
  OutputFile out;
  EXPECT_FALSE(out.open("/nonexistent-directory/page.html"));
  EXPECT_EQ(out.stream(), nullptr);
  EXPECT_FALSE(out.commit());
}

// A signal handler removes every temporary the process has, however many
// there are and on whichever threads they are being created, finished or
// moved; and after it no temporary is created. Run in a child process: the
// removal is for good.
TEST(OutputFile, RemovalReachesEveryTemporaryOfEveryThread) {
  ScratchDir dir;
  const pid_t child = fork();
  if (child == 0) {
    std::vector<OutputFile> finished(150);
    for (size_t i = 0; i < finished.size(); ++i) {
      if (!finished[i].open(dir.file("page" + std::to_string(i))) || !finished[i].finish()) _exit(2);
    }
    std::vector<OutputFile> moved;
    for (OutputFile& f : finished) moved.push_back(std::move(f));
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&, t] {
        for (int k = 0; !stop.load(); ++k) {
          OutputFile f;
          if (f.open(dir.file("busy" + std::to_string(t))) && k % 2 == 0) f.commit();
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    remove_open_temporaries();
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = e.path().filename().string();
      if (name.rfind(".rivulon-", 0) == 0) _exit(3);
    }
    _exit(0);  // the writers are blocked in open for good
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: a temporary could not be made, 3: one was left";
}

}  // namespace
}  // namespace rivulon::testing
