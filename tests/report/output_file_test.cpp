#include "report/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

}  // namespace
}  // namespace rivulon::testing
