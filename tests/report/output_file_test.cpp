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

// A folder of pages: nothing of it shows under its name until it is put in
// place, which replaces an earlier folder whole; abandoned, removed at an
// ending signal or left by a killed run, it leaves nothing.
TEST(OutputFolder, PutInPlaceWholeOrNotAtAll) {
  ScratchDir dir;
  const std::string name = dir.file("view");
  std::filesystem::create_directory(name);
  write_file(name + "/old.html", "earlier");
  {
    OutputFolder abandoned;
    ASSERT_TRUE(abandoned.open(name + "/"));
    write_file(abandoned.path() + "/new.html", "half");
  }
  EXPECT_EQ(entries(dir.path()), 1u);
  EXPECT_EQ(read_file(name + "/old.html"), "earlier");

  OutputFolder out;
  ASSERT_TRUE(out.open(name));
  write_file(out.path() + "/new.html", "complete");
  EXPECT_FALSE(std::filesystem::exists(name + "/new.html"));
  ASSERT_TRUE(out.put_in_place());
  EXPECT_EQ(read_file(name + "/new.html"), "complete");
  EXPECT_FALSE(std::filesystem::exists(name + "/old.html"));
  EXPECT_EQ(entries(dir.path()), 1u);

  // Never over a file.
  write_file(dir.file("plain"), "data");
  OutputFolder over_file;
  ASSERT_TRUE(over_file.open(dir.file("plain")));
  EXPECT_FALSE(over_file.put_in_place());
  EXPECT_EQ(read_file(dir.file("plain")), "data");
  EXPECT_EQ(entries(dir.path()), 2u);

  // At an ending signal (in a child that ends right after), and after a kill.
  for (const bool killed : {false, true}) {
    const pid_t child = fork();
    if (child == 0) {
      OutputFolder pending;
      if (!pending.open(dir.file("pending"))) _exit(2);
      for (int k = 0; k < 300; ++k) write_file(pending.path() + "/" + std::to_string(k) + ".js", "x");
      if (!killed) remove_open_temporaries();
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (killed) {
      EXPECT_EQ(entries(dir.path()), 3u);
      EXPECT_EQ(remove_stale_temporaries(dir.path(), std::time(nullptr) + 1), 1);
    }
    EXPECT_EQ(entries(dir.path()), 2u) << (killed ? "after a kill" : "at a signal");
  }
}

}  // namespace
}  // namespace rivulon::testing
