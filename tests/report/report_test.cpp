// Report page, text report and alignments page written from hand-built
// repeats, compared byte for byte with tests/report/expected/<test>/.
// Whole runs of the program are pinned by the golden runs (tests/golden).
#include "report/report_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "golden.h"
#include "report/cells.h"

namespace rivulon::testing {
namespace {

// A repeat as find_repeats() gives it: definitions 1 and 2 from their record,
// definition 3 from its record with the representative copy at `pattern_start`.
Repeat repeat_of(const RepeatRecord& rec) {
  const RepeatCells cells = format_cells(rec);
  return Repeat{rec.start, rec.start + int64_t{rec.motif_length} * rec.units, rec.start, rec.motif_length,
                static_cast<double>(rec.units), rec.similarity, 1, cells.units, cells.score};
}
Repeat repeat_of(const PatternRepeatRecord& rec) {
  const RepeatCells cells = format_cells(rec);
  return Repeat{rec.start, rec.start + static_cast<int32_t>(rec.motif_length * rec.units), rec.pattern_start,
                rec.motif_length, rec.units, rec.score, 3, cells.units, cells.score};
}

Options with(int definition, int32_t mismatch, int32_t min_score = 50) {
  Options o;
  o.definition = definition;
  o.mismatch = mismatch;
  o.gap = 7;
  o.terminal_gap = 3;
  o.min_score = min_score;
  return o;
}

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

// Rows in the order given, two of them at one position.
TEST_F(ReportGolden, Definition1RowsInListingOrder) {
  const std::string s = "ACGACGACGACGTT";
  const std::vector<Repeat> repeats = {repeat_of(RepeatRecord{0, 3, 4, 1.75}), repeat_of(RepeatRecord{0, 2, 2, 1.0}),
                                       repeat_of(RepeatRecord{5, 1, 2, 2.0})};
  write_report(ReportRequest{page_names_for("seq.fa"), true, true, nullptr, ""}, s, with(1, 5), repeats);
  expect_written_files();
}

// Text report blanks shrink as positions, lengths and units gain digits;
// without an alignments page the rows link into the report page itself.
TEST_F(ReportGolden, FillerShrinksWithTheNumberOfDigits) {
  const std::string s(2000, 'A');
  const std::vector<Repeat> repeats = {repeat_of(RepeatRecord{8, 12, 10, 1.0}),
                                       repeat_of(RepeatRecord{9, 120, 100, 1.0}),
                                       repeat_of(RepeatRecord{999, 5, 2, 1.0})};
  write_report(ReportRequest{page_names_for("f.fa"), false, true, nullptr, ""}, s, with(2, 5), repeats);
  expect_written_files();
}

TEST_F(ReportGolden, Definition2LabelsStandInFrontOfTheRows) {
  const std::string s = "ACGTACGGT";
  write_report(ReportRequest{page_names_for("d2.fa"), true, false, nullptr, ""}, s, with(2, 5),
               {repeat_of(RepeatRecord{0, 4, 2, 1.25})});
  expect_written_files();
}

// A repeat whose second copy runs past the end: those positions are drawn as
// '?', and nothing after the slice is read.
TEST_F(ReportGolden, PastTheEndDrawnAsQuestionMarks) {
  const std::string buffer = "ACGACGAACGT";
  write_report(ReportRequest{page_names_for("q.fa"), true, false, nullptr, ""}, std::string_view(buffer).substr(0, 7),
               with(1, 5), {repeat_of(RepeatRecord{3, 3, 2, 1.0})});
  expect_written_files();
}

// One line pair per pass through the pattern, the last one short; a repeat
// whose alignment scores below the minimum gets an empty block.
TEST_F(ReportGolden, Definition3DrawsOnePassThroughThePatternPerLine) {
  const std::string s = "ACGACGATTTTTTTT";
  const std::vector<Repeat> repeats = {repeat_of(PatternRepeatRecord{0, 3, 0, 7.0 / 3, 14}),
                                       repeat_of(PatternRepeatRecord{8, 3, 0, 2.0, 61.6})};  // aligns below the minimum
  write_report(ReportRequest{page_names_for("p3.fa"), true, true, nullptr, ""}, s, with(3, 7, 10), repeats);
  expect_written_files();
}

}  // namespace
}  // namespace rivulon::testing
