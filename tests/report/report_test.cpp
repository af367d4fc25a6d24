// Report page, text report and alignments page, byte for byte.
#include "report/report_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "align/pattern_alignment.h"
#include "test_support.h"

namespace rivulon::testing {
namespace {

const std::string kNbsp6 = "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";

std::string parameters(const std::string& values, int length) {
  return "<p align=\"left\">Alignment parameters:&nbsp; " + values + "<br>Sequence length: " +
         std::to_string(length) + "</p>";
}

const std::string kPlainHeader =
    "<table border=\"2\" cellspacing=\"1\" width=\"400\" id=\"AutoNumber1\"><tr>"
    "<td width=\"130\" align=\"center\" height=\"50\"><font size=\"4\">Starting position</font></td>"
    "<td width=\"95\" align=\"center\" height=\"50\"><font size=\"4\">Motif Length</font></td>"
    "<td width=\"95\" align=\"center\" height=\"50\"><font size=\"4\">Number of units</font></td>"
    "<td width=\"80\" align=\"center\" height=\"50\"><font size=\"4\">Score</font></td></tr>";

std::string plain_row(const std::string& target, int row, int pos, int L, const std::string& units,
                      const std::string& score) {
  return "<tr><td width=\"130\" align=\"center\" height=\"19\"><a href=\"" + target + "#" +
         std::to_string(row) + "\">" + std::to_string(pos) + "</a></td>"
         "<td width=\"95\" align=\"center\" height=\"19\">" + std::to_string(L) + "</td>"
         "<td width=\"95\" align=\"center\" height=\"19\">" + units + "</td>"
         "<td width=\"80\" align=\"center\" height=\"19\">" + score + "</td></tr>";
}

const std::string kTextHead =
    "Rivulon\nRivulon contributors\nTandem repeat analysis\nThe Rivulon project\n\n\n";
const std::string kTextColumns = "POSITION       LENGTH       UNITS               SCORE\r\n";

std::string copy_heading(int row, int pos, int L, int units, const std::string& level) {
  return "<p align=\"left\"><a name=\"" + std::to_string(row) +
         "\"></a>&nbsp;&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> " +
         std::to_string(pos) + " &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> " +
         std::to_string(L) + " &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> " +
         std::to_string(units) + " &nbsp;&nbsp; <font color=\"#FFFF00\">Similarity level:</font> " +
         level + "</p>";
}

// A definition 1 copy pair with its labels in a table floated left.
std::string pair1(int first, int second, const std::string& row1, const std::string& row2) {
  return "<table border=\"0\" cellspacing=\"0\" width=\"1%\" id=\"AutoNumber1\" style=\"float: left\" cellpadding=\"0\">"
         "<tr><td width=\"100%\" style=\"border-style: none; border-width: small\" height=\"19\"><font face=\"Courier New\">" +
         std::to_string(first) + "</font></td></tr><tr>"
         "<td width=\"100%\" style=\"border-style: none; border-width: small\" height=\"19\"><font face=\"Courier New\">" +
         std::to_string(second) + "</font></td></tr></table>"
         "<p align=\"justify\"><font face=\"Courier New\">&nbsp;" + row1 + "<br>&nbsp;" + row2 +
         "</font></p><p align=\"left\">&nbsp;</p>";
}

// A definition 2 copy pair with its labels in front of the rows.
std::string pair2(int first, int second, const std::string& row1, const std::string& row2) {
  return "<p align=\"left\"><font face=\"Courier New\">&nbsp;&nbsp;&nbsp;" + std::to_string(first) +
         "&nbsp;&nbsp;&nbsp;" + row1 + "<br>&nbsp;&nbsp;&nbsp;" + std::to_string(second) +
         "&nbsp;&nbsp;&nbsp;" + row2 + "</font></p><p align=\"left\">&nbsp;</p>";
}

const std::string kBlockEnd = "<p align=\"left\">&nbsp;</p>";

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }
  ScratchDir dir;
  std::filesystem::path previous;
};

TEST_F(ReportTest, Definition1RowsInListingOrder) {
  const std::string s = "ACGACGACGACGTT";
  const int32_t n = static_cast<int32_t>(s.size());
  RecordTable records(n);
  records.at(0) = RepeatRecord{3, 0, 4, 1.75, 1, 0, {}, 0};
  uint32_t chained = records.append_after(0);
  records.at(chained) = RepeatRecord{2, 0, 2, 1.0, 1, 0, {}, 0};
  records.at(5) = RepeatRecord{3, 5, 4, 1.75, 0, 0, {}, 0};  // not listed
  uint32_t deeper = records.append_after(5);
  records.at(deeper) = RepeatRecord{1, 0, 2, 2.0, 1, 0, {}, 0};
  AlignmentMatrix matrix(7);
  write_report(1, s.c_str(), n, records, 7, std::nullopt, "seq.fa", 1, 1, matrix, -7, -3, -5,
                    2, 0.8);

  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file("atr_seq.html"),
            page + "<p><b>Please click for a <a href=\"atr_seq.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("2 -5 -7 -3", 14) + kPlainHeader +
                plain_row("align_seq.html", 1, 0, 3, "4", "1.75") +
                plain_row("align_seq.html", 2, 0, 2, "2", "1.00") +
                plain_row("align_seq.html", 3, 5, 1, "2", "2.00"));
  const std::string blanks10(10, ' ');
  EXPECT_EQ(read_file("atr_seq.txt"),
            kTextHead + kTextColumns +
                "  0 " + blanks10 + "  3 " + blanks10 + "  4 " + blanks10 + "    1.75\r\n" +
                "  0 " + blanks10 + "  2 " + blanks10 + "  2 " + blanks10 + "    1.00\r\n" +
                "  5 " + blanks10 + "  1 " + blanks10 + "  2 " + blanks10 + "    2.00\r\n");
  EXPECT_EQ(read_file("align_seq.html"),
            page + parameters("2 -5 -7 -3", 14) +
                copy_heading(1, 0, 3, 4, "1.75") + pair1(0, 3, "ACG", "ACG") +
                pair1(3, 6, "ACG", "ACG") + pair1(6, 9, "ACG", "ACG") + kBlockEnd +
                copy_heading(2, 0, 2, 2, "1.00") + pair1(0, 2, "-AC", "GA-") + kBlockEnd +
                copy_heading(3, 5, 1, 2, "2.00") + pair1(5, 6, "G", "A") + kBlockEnd);
}

TEST_F(ReportTest, FillerShrinksWithTheNumberOfDigits) {
  const std::string s(2000, 'A');
  RecordTable records(2000);
  records.at(8) = RepeatRecord{12, 0, 10, 1.0, 1, 0, {}, 0};
  records.at(9) = RepeatRecord{120, 0, 100, 1.0, 1, 0, {}, 0};
  records.at(999) = RepeatRecord{5, 0, 2, 1.0, 1, 0, {}, 0};
  AlignmentMatrix matrix(120);
  write_report(2, s.c_str(), 2000, records, 120, std::nullopt, "f.fa", 1, 0, matrix, -7, -3,
                    -5, 2, 0.8);
  EXPECT_EQ(read_file("atr_f.txt"),
            kTextHead + kTextColumns +
                "  8 " + std::string(10, ' ') + "  12 " + std::string(9, ' ') + "  10 " +
                std::string(9, ' ') + "    1.00\r\n" +
                "  9 " + std::string(9, ' ') + "  120 " + std::string(8, ' ') + "  100 " +
                std::string(8, ' ') + "    1.00\r\n" +
                "  999 " + std::string(7, ' ') + "  5 " + std::string(10, ' ') + "  2 " +
                std::string(10, ' ') + "    1.00\r\n");
  // Without an alignments page the rows link into the report page itself.
  EXPECT_NE(read_file("atr_f.html").find("<a href=\"atr_f.html#1\">8</a>"), std::string::npos);
  EXPECT_FALSE(exists("align_f.html"));
}

TEST_F(ReportTest, Definition2LabelsStandInFrontOfTheRows) {
  const std::string s = "ACGTACGGT";
  RecordTable records(9);
  records.at(0) = RepeatRecord{4, 0, 2, 1.25, 1, 0, {}, 0};
  AlignmentMatrix matrix(4);
  write_report(2, s.c_str(), 9, records, 4, std::nullopt, "d2.fa", 0, 1, matrix, -7, -3, -5,
                    2, 0.8);
  EXPECT_EQ(read_file("align_d2.html"),
            "<html dir=\"ltr\">" + page_head_body() + parameters("2 -5 -7 -3", 9) +
                copy_heading(1, 0, 4, 2, "1.25") + pair2(0, 4, "ACGT", "ACGG") + kBlockEnd);
}

TEST_F(ReportTest, PastTheEndDrawnAsQuestionMarks) {
  const std::string s = "ACGACGA";
  RecordTable records(7);
  records.at(3) = RepeatRecord{3, 0, 2, 1.0, 1, 0, {}, 0};
  AlignmentMatrix matrix(3);
  write_report(1, s.c_str(), 7, records, 3, std::nullopt, "q.fa", 0, 1, matrix, -7, -3, -5, 2,
                    0.8);
  EXPECT_NE(read_file("align_q.html").find("&nbsp;ACG<br>&nbsp;A?" "?</font>"), std::string::npos);
}

std::string pattern_heading(int row, int pos, int L, const std::string& units, const std::string& score) {
  return "<p align=\"left\"><a name=\"" + std::to_string(row) +
         "\"></a>&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> " + std::to_string(pos) +
         " &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> " + std::to_string(L) +
         " &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> " + units +
         " &nbsp;&nbsp; <font color=\"#FFFF00\">Score:</font> " + score + "</p>";
}

std::string line_start(int label) {
  return "<p align=\"left\"><font face=\"Courier New\">&nbsp;&nbsp;&nbsp;" + std::to_string(label) +
         "<br>" + kNbsp6;
}

TEST_F(ReportTest, Definition3DrawsOnePassThroughThePatternPerLine) {
  const std::string s = "ACGACGATTTTTTTT";
  PatternRepeatTable records(15);
  records.at(0) = PatternRepeatRecord{3, 0, 0, 7.0 / 3, 14, 1, 0, {}, 0};
  records.at(8) = PatternRepeatRecord{3, 0, 0, 2.0, 61.6, 1, 0, {}, 0};  // scores below 30 when aligned
  PatternWorkspace ws(7);
  write_report(s.c_str(), 15, records, 7, std::nullopt, "p3.fa", 1, 1, ws, -7, -3, -7, 2,
                       10);
  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file("atr_p3.html"),
            page + "<p><b>Please click for a <a href=\"atr_p3.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("2 -7 -7 -3", 15) + kPlainHeader +
                plain_row("align_p3.html", 1, 0, 3, "2.3", "14") +
                plain_row("align_p3.html", 2, 8, 3, "2.0", "62"));
  EXPECT_EQ(read_file("atr_p3.txt"),
            kTextHead + kTextColumns + "  0 " + std::string(10, ' ') + "  3 " +
                std::string(10, ' ') + "  2.3 " + std::string(10, ' ') + "    14\r\n" + "  8 " +
                std::string(10, ' ') + "  3 " + std::string(10, ' ') + "  2.0 " +
                std::string(10, ' ') + "    62\r\n");
  const std::string end_line = "</font></p><p align=\"left\">&nbsp;</p>";
  EXPECT_EQ(read_file("align_p3.html"),
            page + parameters("2 -7 -7 -3", 15) + pattern_heading(1, 0, 3, "2.3", "14") +
                line_start(0) + "ACG<br>" + kNbsp6 + "ACG" + end_line + line_start(3) + "ACG<br>" +
                kNbsp6 + "ACG" + end_line + line_start(6) + "A<br>" + kNbsp6 + "A" + kBlockEnd +
                pattern_heading(2, 8, 3, "2.0", "62") + line_start(8) + "<br>" + kNbsp6 + kBlockEnd);
}

TEST(ProgramReport, WorkedExampleEndToEnd) {
  ScratchDir dir;
  write_file(dir.file("t.fa"), ">x\nTTGACGACGACGACTT\n");
  ProcessResult r = run_program(dir.path(), {"t.fa"}, answers(1, 1, 2, 2, 10, 1, 80, 'Y', 'Y'));
  ASSERT_EQ(r.status, 0);
  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file(dir.file("atr_t.html")),
            page + "<p><b>Please click for a <a href=\"atr_t.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("1 -1 -2 -2", 16) + kPlainHeader +
                plain_row("align_t.html", 1, 2, 3, "4", "1.00") +
                plain_row("align_t.html", 2, 14, 1, "2", "1.00"));
  const std::string b10(10, ' ');
  EXPECT_EQ(read_file(dir.file("atr_t.txt")),
            kTextHead + kTextColumns + "  2 " + b10 + "  3 " + b10 + "  4 " + b10 + "    1.00\r\n" +
                "  14 " + std::string(9, ' ') + "  1 " + b10 + "  2 " + b10 + "    1.00\r\n");
  EXPECT_EQ(read_file(dir.file("align_t.html")),
            page + parameters("1 -1 -2 -2", 16) + copy_heading(1, 2, 3, 4, "1.00") +
                pair1(2, 5, "GAC", "GAC") + pair1(5, 8, "GAC", "GAC") + pair1(8, 11, "GAC", "GAC") +
                kBlockEnd + copy_heading(2, 14, 1, 2, "1.00") + pair1(14, 15, "T", "T") + kBlockEnd);
}

TEST(ProgramReport, NothingFoundLeavesHeadsAndHeaders) {
  ScratchDir dir;
  write_file(dir.file("none.fa"), "ACGTGCAT\n");
  for (int definition = 1; definition <= 3; ++definition) {
    ProcessResult r = run_program(dir.path(), {"none.fa"},
                                  answers(2, 7, 7, 3, 10, definition, definition == 3 ? 50 : 80, 'Y', 'Y'));
    ASSERT_EQ(r.status, 0);
    const std::string page = "<html dir=\"ltr\">" + page_head_body();
    EXPECT_EQ(read_file(dir.file("atr_none.html")),
              page + "<p><b>Please click for a <a href=\"atr_none.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                  parameters("2 -7 -7 -3", 8) + kPlainHeader);
    EXPECT_EQ(read_file(dir.file("atr_none.txt")), kTextHead + kTextColumns);
    EXPECT_EQ(read_file(dir.file("align_none.html")), page + parameters("2 -7 -7 -3", 8));
  }
}

TEST(ProgramReport, UnwritablePagesReportedAndSkipped) {
  ScratchDir dir;
  write_file(dir.file("u.fa"), "ACGTGCAT\n");
  std::filesystem::create_directories(dir.file("atr_u.html"));  // a directory blocks the page
  std::filesystem::create_directories(dir.file("align_u.html"));
  ProcessResult r = run_program(dir.path(), {"u.fa"}, answers(2, 7, 7, 3, 10, 2, 80, 'Y', 'Y'));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, full_dialogue(2) + "\nerror in openning output file for write" +
                       "\nerror in openning output file for write" +
                       "\nerror in openning input file for write");
  EXPECT_EQ(read_file(dir.file("atr_u.txt")), kTextHead + kTextColumns);
}

}  // namespace
}  // namespace rivulon::testing

namespace rivulon::testing {
namespace {

TEST(ProgramReport, TextReportWithoutAlignmentsLinksIntoTheReportPage) {
  ScratchDir dir;
  write_file(dir.file("t.fa"), "TTGACGACGACGACTT\n");
  ASSERT_EQ(run_program(dir.path(), {"t.fa"}, answers(1, 1, 2, 2, 10, 1, 80, 'N', 'Y')).status, 0);
  const std::string page = read_file(dir.file("atr_t.html"));
  EXPECT_NE(page.find("<a href=\"atr_t.txt\">text report</a>"), std::string::npos);
  EXPECT_NE(page.find(plain_row("atr_t.html", 1, 2, 3, "4", "1.00")), std::string::npos);
  EXPECT_FALSE(exists(dir.file("align_t.html")));
}

TEST(ProgramReport, Definition2WorkedExample) {
  ScratchDir dir;
  write_file(dir.file("t.fa"), "TTGACGACGACGACTT\n");
  ASSERT_EQ(run_program(dir.path(), {"t.fa"}, answers(1, 1, 2, 2, 10, 2, 80, 'Y', 'Y')).status, 0);
  // L = 1 finds TT at 0 (overwritten by the L = 3 repeat's cover); TT at 14
  // forms no pair, since a pair must end before the last base.
  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file(dir.file("atr_t.html")),
            page + "<p><b>Please click for a <a href=\"atr_t.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("1 -1 -2 -2", 16) + kPlainHeader +
                plain_row("align_t.html", 1, 2, 3, "4", "1.00"));
  const std::string b10(10, ' ');
  EXPECT_EQ(read_file(dir.file("atr_t.txt")),
            kTextHead + kTextColumns + "  2 " + b10 + "  3 " + b10 + "  4 " + b10 + "    1.00\r\n");
  EXPECT_EQ(read_file(dir.file("align_t.html")),
            page + parameters("1 -1 -2 -2", 16) + copy_heading(1, 2, 3, 4, "1.00") +
                pair2(2, 5, "GAC", "GAC") + pair2(5, 8, "GAC", "GAC") + pair2(8, 11, "GAC", "GAC") +
                kBlockEnd);
}

TEST(ProgramReport, Definition3TandemRun) {
  ScratchDir dir;
  std::string acg;
  for (int i = 0; i < 12; ++i) acg += "ACG";
  write_file(dir.file("c.fa"), ">c\nTTTT" + acg + "TTTT\n");
  ASSERT_EQ(run_program(dir.path(), {"c.fa"}, answers(2, 7, 7, 3, 10, 3, 30, 'Y', 'Y')).status, 0);
  // Only L = 3 is listed: the T runs are too short for the minimum score and
  // the L = 6 and L = 9 readings of the run are dominated at its start.
  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file(dir.file("atr_c.html")),
            page + "<p><b>Please click for a <a href=\"atr_c.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("2 -7 -7 -3", 44) + kPlainHeader +
                plain_row("align_c.html", 1, 4, 3, "12.0", "72"));
  EXPECT_EQ(read_file(dir.file("atr_c.txt")),
            kTextHead + kTextColumns + "  4 " + std::string(10, ' ') + "  3 " +
                std::string(10, ' ') + "  12.0 " + std::string(9, ' ') + "    72\r\n");
  std::string drawing = pattern_heading(1, 4, 3, "12.0", "72");
  for (int label = 4; label < 37; label += 3) {
    drawing += line_start(label) + "ACG<br>" + kNbsp6 + "ACG</font></p><p align=\"left\">&nbsp;</p>";
  }
  drawing += line_start(37) + "ACG<br>" + kNbsp6 + "ACG" + kBlockEnd;
  EXPECT_EQ(read_file(dir.file("align_c.html")), page + parameters("2 -7 -7 -3", 44) + drawing);
}

const std::string kCodingHeader =
    "<tr><td width=\"147\" align=\"center\" height=\"50\"><font size=\"4\">Starting position</font></td>"
    "<td width=\"100\" align=\"center\" height=\"50\"><font size=\"4\">Motif Length</font></td>"
    "<td width=\"96\" align=\"center\" height=\"50\"><font size=\"4\">Number of units</font></td>"
    "<td width=\"87\" align=\"center\" height=\"50\"><font size=\"4\">Score</font></td>"
    "<td width=\"215\" align=\"center\" height=\"50\"><font size=\"4\">Coding region</font></td></tr>";

std::string coding_row(const std::string& target, int row, int pos, int L, const std::string& units,
                       const std::string& score, const std::string& name) {
  return "<tr><td width=\"147\" align=\"center\" height=\"19\"><a href=\"" + target + "#" +
         std::to_string(row) + "\">" + std::to_string(pos) + "</a></td>"
         "<td width=\"100\" align=\"center\" height=\"19\">" + std::to_string(L) + "</td>"
         "<td width=\"96\" align=\"center\" height=\"19\">" + units + "</td>"
         "<td width=\"87\" align=\"center\" height=\"19\">" + score + "</td>"
         "<td width=\"215\" align=\"center\" height=\"19\">" + name + "</td></tr>";
}

const std::string kCodingColumns =
    "POSITION       LENGTH       UNITS               SCORE    GENE_ENCODED\r\n";

class CodingRegionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir.file("t.fa"), "TTGACGACGACGACTT\n");
    write_file(dir.file("genes.gb"),
               "     CDS             1..5\n                     /gene=\"first gene\"\n"
               "     CDS             complement(10..15)\n                     /gene=\"tailgene\"\n");
    write_file(dir.file("other.gb"), "     CDS             2..3\n     /gene=\"other\"\n");
  }
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  ScratchDir dir;
};

TEST_F(CodingRegionRun, Definition1UsesTheCommandLineName) {
  ProcessResult r = run_program(dir.path(), {"t.fa", "genes.gb"}, answers(1, 1, 2, 2, 10, 1, 80, 'N', 'Y'));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, full_dialogue(1));
  const std::string page = "<html dir=\"ltr\">" + page_head_body();
  EXPECT_EQ(read_file(dir.file("atr_t.html")),
            page + "<p><b>Please click for a <a href=\"atr_t.txt\">text report</a>.</b></p><p>&nbsp;</p>" +
                parameters("1 -1 -2 -2", 16) +
                "<table border=\"2\" cellspacing=\"1\" width=\"600\" id=\"AutoNumber1\">" +
                kCodingHeader + coding_row("atr_t.html", 1, 2, 3, "4", "1.00", "first") +
                coding_row("atr_t.html", 2, 14, 1, "2", "1.00", "tailgene"));
  const std::string b10(10, ' ');
  EXPECT_EQ(read_file(dir.file("atr_t.txt")),
            kTextHead + kCodingColumns + "  2 " + b10 + "  3 " + b10 + "  4 " + b10 +
                "    1.00     first\r\n" + "  14 " + std::string(9, ' ') + "  1 " + b10 + "  2 " +
                b10 + "    1.00     tailgene\r\n");
  // No temporary file is left behind.
  EXPECT_EQ(listing(), (std::vector<std::string>{"atr_t.html", "atr_t.txt", "genes.gb", "other.gb", "t.fa"}));
}

TEST_F(CodingRegionRun, Definition2ReadsTheFileNameFromStandardInput) {
  ProcessResult r = run_program(dir.path(), {"t.fa", "genes.gb"},
                                answers(1, 1, 2, 2, 10, 2, 80, 'N', 'N') + "other.gb\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, full_dialogue(2));
  EXPECT_NE(read_file(dir.file("atr_t.html")).find(coding_row("atr_t.html", 1, 2, 3, "4", "1.00", "other")),
            std::string::npos);
  // At the end of input the command-line name stays.
  ASSERT_EQ(run_program(dir.path(), {"t.fa", "genes.gb"}, answers(1, 1, 2, 2, 10, 2, 80, 'N', 'N')).status, 0);
  EXPECT_NE(read_file(dir.file("atr_t.html")).find(coding_row("atr_t.html", 1, 2, 3, "4", "1.00", "first")),
            std::string::npos);
}

TEST_F(CodingRegionRun, Definition3PromptsForTheFileName) {
  std::string acg;
  for (int i = 0; i < 12; ++i) acg += "ACG";
  write_file(dir.file("c.fa"), "TTTT" + acg + "TTTT\n");
  ProcessResult r = run_program(dir.path(), {"c.fa", "genes.gb"},
                                answers(2, 7, 7, 3, 10, 3, 30, 'N', 'Y') + "other.gb\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, full_dialogue(3) + "\nFile name: ");
  EXPECT_NE(read_file(dir.file("atr_c.html"))
                .find("<table border=\"2\" cellspacing=\"1\"  width=\"600\" id=\"AutoNumber1\">" +
                      kCodingHeader + coding_row("atr_c.html", 1, 4, 3, "12.0", "72", "noncoding")),
            std::string::npos);
  EXPECT_EQ(read_file(dir.file("atr_c.txt")),
            kTextHead + kCodingColumns + "  4 " + std::string(10, ' ') + "  3 " +
                std::string(10, ' ') + "  12.0 " + std::string(9, ' ') + "    72     noncoding\r\n");
}

TEST_F(CodingRegionRun, UnreadableFileWaitsForAKeyAndEndsWithStatus1) {
  ProcessResult r = run_program(dir.path(), {"t.fa", "missing.gb"}, answers(1, 1, 2, 2, 10, 1, 80, 'Y', 'Y'));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, full_dialogue(1) + "\ncan't open file,press any key\n");
  // Only the provisional page exists: no report file was created.
  EXPECT_EQ(listing(), (std::vector<std::string>{"atr_t.html", "genes.gb", "other.gb", "t.fa"}));
}

TEST(RealData, GenBankRecordAsCodingRegionFile) {
  ScratchDir dir;
  const std::string fa = shared_data("human_beta_globin_HUMHBB.fa");
  const std::string gb = shared_data("human_beta_globin_HUMHBB.gb");
  ProcessResult r = run_program(dir.path(), {fa, gb}, answers(2, 7, 7, 3, 60, 1, 80, 'Y', 'Y'));
  ASSERT_EQ(r.status, 0);
  const std::string text = read_file(dir.file("atr_human_beta_globin_HUMHBB.txt"));
  EXPECT_NE(text.find("GENE_ENCODED"), std::string::npos);
  EXPECT_NE(text.find("noncoding"), std::string::npos);
}

}  // namespace
}  // namespace rivulon::testing
