// Report page, text report and alignments page written from hand-built
// record tables, compared byte for byte with tests/report/expected/<test>/.
// Whole runs of the program are pinned by the golden runs (tests/golden).
#include "report/report_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "golden.h"

namespace rivulon::testing {
namespace {

class ReportGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }
  // Every file the writer left, against the expected folder named after the test.
  void expect_written_files() {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    expect_files(repo_file("tests/report/expected/" + name), read_tree(dir.path()));
  }
  ScratchDir dir;
  std::filesystem::path previous;
};

// Two listed records at position 0 (head and chain), an unlisted head at 5
// with a listed record behind it: rows follow the chains from the heads.
TEST_F(ReportGolden, Definition1RowsInListingOrder) {
  const std::string s = "ACGACGACGACGTT";
  const int32_t n = static_cast<int32_t>(s.size());
  RecordTable records(n);
  const uint32_t at_zero = put(records, 0, RepeatRecord{0, 3, 4, 1.75, 0, {}});
  put(records, 0, RepeatRecord{0, 2, 2, 1.0, 0, {}});
  records.append_to_chain(5, at_zero);  // not listed: that repeat starts at 0
  put(records, 5, RepeatRecord{5, 1, 2, 2.0, 0, {}});
  write_report(ReportRequest{page_names_for("seq.fa"), true, true, false, ""}, 1,
               SequenceView{s.c_str(), n}, Scoring{2, -5, -7, -3}, records);
  expect_written_files();
}

// Text report blanks shrink as positions, lengths and units gain digits;
// without an alignments page the rows link into the report page itself.
TEST_F(ReportGolden, FillerShrinksWithTheNumberOfDigits) {
  const std::string s(2000, 'A');
  RecordTable records(2000);
  put(records, 8, RepeatRecord{8, 12, 10, 1.0, 0, {}});
  put(records, 9, RepeatRecord{9, 120, 100, 1.0, 0, {}});
  put(records, 999, RepeatRecord{999, 5, 2, 1.0, 0, {}});
  write_report(ReportRequest{page_names_for("f.fa"), false, true, false, ""}, 2,
               SequenceView{s.c_str(), 2000}, Scoring{2, -5, -7, -3}, records);
  expect_written_files();
}

TEST_F(ReportGolden, Definition2LabelsStandInFrontOfTheRows) {
  const std::string s = "ACGTACGGT";
  RecordTable records(9);
  put(records, 0, RepeatRecord{0, 4, 2, 1.25, 0, {}});
  write_report(ReportRequest{page_names_for("d2.fa"), true, false, false, ""}, 2,
               SequenceView{s.c_str(), 9}, Scoring{2, -5, -7, -3}, records);
  expect_written_files();
}

// A record whose second copy runs past the end: those positions are drawn as '?'.
TEST_F(ReportGolden, PastTheEndDrawnAsQuestionMarks) {
  const std::string s = "ACGACGA";
  RecordTable records(7);
  put(records, 3, RepeatRecord{3, 3, 2, 1.0, 0, {}});
  write_report(ReportRequest{page_names_for("q.fa"), true, false, false, ""}, 1,
               SequenceView{s.c_str(), 7}, Scoring{2, -5, -7, -3}, records);
  expect_written_files();
}

// One line pair per pass through the pattern, the last one short; a record
// whose alignment scores below the minimum gets an empty block.
TEST_F(ReportGolden, Definition3DrawsOnePassThroughThePatternPerLine) {
  const std::string s = "ACGACGATTTTTTTT";
  PatternRepeatTable records(15);
  put(records, 0, PatternRepeatRecord{0, 3, 0, 7.0 / 3, 14, 0, {}});
  put(records, 8, PatternRepeatRecord{8, 3, 0, 2.0, 61.6, 0, {}});  // aligns below the minimum
  write_report(ReportRequest{page_names_for("p3.fa"), true, true, false, ""}, SequenceView{s.c_str(), 15},
               Scoring{2, -7, -7, -3}, 10, records);
  expect_written_files();
}

}  // namespace
}  // namespace rivulon::testing
