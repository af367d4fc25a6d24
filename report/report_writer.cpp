#include "report/report_writer.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "align/pattern_alignment.h"
#include "report/coding_regions.h"
#include "report/output_file.h"
#include "report/output_names.h"
#include "report/page.h"

namespace rivulon {

namespace {

constexpr int32_t kFullTraceBelow = 20;  // the drawings trace fully below L = 20
constexpr int kMoveListFactorCopies = 2;

const char* const kInputWriteError = "\nerror in openning input file for write";
const char* const kOutputWriteError = "\nerror in openning output file for write";

// Blanks after a value v in the text report: the smallest whole number not
// below 10 - log10(v), none when that is not positive.
void write_filler(std::FILE* out, double v) {
  const double width = 10 - std::log10(v);
  if (!(width > 0)) return;
  int count = 0;
  do {
    std::fputc(' ', out);
    ++count;
  } while (count < width && count < 64);
}

// The base at `index`, '?' at or beyond the end of the sequence.
char base_at(const char* s, int64_t n, int64_t index) { return index < n ? s[index] : '?'; }

// Reads the coding-region file name for definitions 2 and 3: one word from
// standard input; at the end of input the command-line name stays.
std::string read_file_name(const std::string& fallback) {
  char word[4096];
  if (std::scanf("%4095s", word) == 1) return word;
  return fallback;
}

// One output page with the message printed when it cannot be written.
struct ReportOutput {
  OutputFile file;
  const char* failure = nullptr;

  // Opens the page; prints the failure message when it cannot be created.
  void open(const std::string& name, const char* message) {
    failure = message;
    if (!file.open(name)) std::fputs(message, stdout);
  }
  // Puts the finished page in place; prints the failure message when that fails.
  void finish() {
    if (file.stream() != nullptr && !file.commit()) std::fputs(failure, stdout);
  }
};

// The output files of one report, opened in the frame's order.
struct ReportFiles {
  ReportOutput page_out, alignments_out, text_out;
  std::string link_target;  // rows link into this page

  // The open streams; nullptr for a page not asked for or not created.
  std::FILE* page() const { return page_out.file.stream(); }
  std::FILE* alignments() const { return alignments_out.file.stream(); }
  std::FILE* text() const { return text_out.file.stream(); }
};

void open_report_files(ReportFiles& files, int definition, const std::string& sequence_file,
                       int text_report, int alignments, int32_t match, int32_t mismatch,
                       int32_t gap, int32_t terminal_gap, int64_t n) {
  const std::string page_name = report_page_name(sequence_file);
  files.link_target = page_name;
  files.page_out.open(page_name, definition == 2 ? kOutputWriteError : kInputWriteError);
  if (alignments) {
    files.link_target = alignments_page_name(sequence_file);
    files.alignments_out.open(files.link_target, kInputWriteError);
    if (files.alignments() != nullptr) {
      write_page_head(files.alignments());
      write_parameter_lines(files.alignments(), match, mismatch, gap, terminal_gap, n);
    }
  }
  const std::string text_name = text_report_name(sequence_file);
  if (text_report) {
    files.text_out.open(text_name, kInputWriteError);
    if (files.text() != nullptr) write_text_report_head(files.text());
  }
  if (files.page() != nullptr) {
    write_page_head(files.page());
    if (text_report) {
      std::fprintf(files.page(), "<p><b>Please click for a <a href=\"%s\">text report</a>.</b></p>",
                   text_name.c_str());
      std::fputs("<p>&nbsp;</p>", files.page());
    }
    write_parameter_lines(files.page(), match, mismatch, gap, terminal_gap, n);
  }
}

void write_table_header(const ReportFiles& files, bool coding, int definition) {
  if (files.page() != nullptr) {
    std::FILE* out = files.page();
    if (coding) {
      std::fputs(definition == 3
                     ? "<table border=\"2\" cellspacing=\"1\"  width=\"600\" id=\"AutoNumber1\">"
                     : "<table border=\"2\" cellspacing=\"1\" width=\"600\" id=\"AutoNumber1\">",
                 out);
      std::fputs("<tr>", out);
      std::fputs("<td width=\"147\" align=\"center\" height=\"50\"><font size=\"4\">Starting position</font></td>", out);
      std::fputs("<td width=\"100\" align=\"center\" height=\"50\"><font size=\"4\">Motif Length</font></td>", out);
      std::fputs("<td width=\"96\" align=\"center\" height=\"50\"><font size=\"4\">Number of units</font></td>", out);
      std::fputs("<td width=\"87\" align=\"center\" height=\"50\"><font size=\"4\">Score</font></td>", out);
      std::fputs("<td width=\"215\" align=\"center\" height=\"50\"><font size=\"4\">Coding region</font></td>", out);
      std::fputs("</tr>", out);
    } else {
      std::fputs("<table border=\"2\" cellspacing=\"1\" width=\"400\" id=\"AutoNumber1\">", out);
      std::fputs("<tr>", out);
      std::fputs("<td width=\"130\" align=\"center\" height=\"50\"><font size=\"4\">Starting position</font></td>", out);
      std::fputs("<td width=\"95\" align=\"center\" height=\"50\"><font size=\"4\">Motif Length</font></td>", out);
      std::fputs("<td width=\"95\" align=\"center\" height=\"50\"><font size=\"4\">Number of units</font></td>", out);
      std::fputs("<td width=\"80\" align=\"center\" height=\"50\"><font size=\"4\">Score</font></td>", out);
      std::fputs("</tr>", out);
    }
  }
  if (files.text() != nullptr) {
    std::fputs(coding ? "POSITION       LENGTH       UNITS               SCORE    GENE_ENCODED\r\n"
                      : "POSITION       LENGTH       UNITS               SCORE\r\n",
               files.text());
  }
}

// One table row. `units` and `score` are already formatted by the caller.
void write_table_row(std::FILE* out, bool coding, const std::string& link_target, long row,
                     long position, int32_t L, const char* units, const char* score,
                     const char* coding_name) {
  if (out == nullptr) return;
  std::fputs("<tr>", out);
  if (coding) {
    std::fprintf(out, "<td width=\"147\" align=\"center\" height=\"19\"><a href=\"%s#%ld\">%ld</a></td>", link_target.c_str(), row, position);
    std::fprintf(out, "<td width=\"100\" align=\"center\" height=\"19\">%d</td>", L);
    std::fprintf(out, "<td width=\"96\" align=\"center\" height=\"19\">%s</td>", units);
    std::fprintf(out, "<td width=\"87\" align=\"center\" height=\"19\">%s</td>", score);
    std::fprintf(out, "<td width=\"215\" align=\"center\" height=\"19\">%s</td>", coding_name);
  } else {
    std::fprintf(out, "<td width=\"130\" align=\"center\" height=\"19\"><a href=\"%s#%ld\">%ld</a></td>", link_target.c_str(), row, position);
    std::fprintf(out, "<td width=\"95\" align=\"center\" height=\"19\">%d</td>", L);
    std::fprintf(out, "<td width=\"95\" align=\"center\" height=\"19\">%s</td>", units);
    std::fprintf(out, "<td width=\"80\" align=\"center\" height=\"19\">%s</td>", score);
  }
  std::fputs("</tr>", out);
}

// One text report line; `units_value` sets the filler after the units.
void write_text_row(std::FILE* out, bool coding, long position, int32_t L, const char* units,
                    double units_value, const char* score, const char* coding_name) {
  if (out == nullptr) return;
  std::fprintf(out, "  %ld ", position);
  write_filler(out, static_cast<double>(position + 1));
  std::fprintf(out, "  %ld ", static_cast<long>(L));
  write_filler(out, L);
  std::fprintf(out, "  %s ", units);
  write_filler(out, units_value);
  if (coding) {
    std::fprintf(out, "    %s     %s\r\n", score, coding_name);
  } else {
    std::fprintf(out, "    %s\r\n", score);
  }
}

// Alignment block of a definition 1 or 2 repeat: every adjacent copy pair.
void write_alignment_block(std::FILE* out, int definition, bool coding, const char* s, int32_t n,
                      long row, long i, const RepeatRecord& rec, AlignmentMatrix& matrix,
                      int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                      std::vector<int32_t>& moves) {
  const int32_t L = rec.motif_length;
  std::fprintf(out,
               coding ? "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %d &nbsp;&nbsp; <font color=\"#FFFF00\">Similarity level:</font> %.2f</p>"
                      : "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %d &nbsp;&nbsp; <font color=\"#FFFF00\">Similarity level:</font> %.2f</p>",
               row, i, L, rec.units, rec.similarity);
  for (int64_t m = 0; m + 2 <= rec.units; ++m) {
    const int64_t first = i + int64_t{L} * m, second = first + L;
    int32_t count;
    if (L < kFullTraceBelow) {
      count = trace_copies(s, n, first - 1, L, 1, matrix, gap, terminal_gap, mismatch, match,
                           moves.data());
    } else {
      count = trace_copies_banded(s, n, first - 1, L, 1, matrix, copy_band_half_width(L), gap,
                                  terminal_gap, mismatch, match, moves.data());
    }
    if (definition == 1) {
      std::fputs("<table border=\"0\" cellspacing=\"0\" width=\"1%\" id=\"AutoNumber1\" style=\"float: left\" cellpadding=\"0\">", out);
      std::fputs("<tr><td width=\"100%\" style=\"border-style: none; border-width: small\" height=\"19\"><font face=\"Courier New\">", out);
      std::fprintf(out, "%ld</font></td></tr><tr>", static_cast<long>(first));
      std::fputs("<td width=\"100%\" style=\"border-style: none; border-width: small\" height=\"19\"><font face=\"Courier New\">", out);
      std::fprintf(out, "%ld</font></td></tr></table>", static_cast<long>(second));
      std::fputs("<p align=\"justify\"><font face=\"Courier New\">&nbsp;", out);
    } else {
      std::fprintf(out, "<p align=\"left\"><font face=\"Courier New\">&nbsp;&nbsp;&nbsp;%ld&nbsp;&nbsp;&nbsp;", static_cast<long>(first));
    }
    int64_t k = 0;
    for (int32_t e = count - 1; e >= 0; --e) {
      if (moves[static_cast<size_t>(e)] == kMoveUp) {
        std::fputc('-', out);
      } else {
        std::fputc(base_at(s, n, first + k++), out);
      }
    }
    if (definition == 1) {
      std::fputs("<br>&nbsp;", out);
    } else {
      std::fprintf(out, "<br>&nbsp;&nbsp;&nbsp;%ld&nbsp;&nbsp;&nbsp;", static_cast<long>(second));
    }
    k = 0;
    for (int32_t e = count - 1; e >= 0; --e) {
      if (moves[static_cast<size_t>(e)] == kMoveLeft) {
        std::fputc('-', out);
      } else {
        std::fputc(base_at(s, n, second + k++), out);
      }
    }
    std::fputs("</font></p><p align=\"left\">&nbsp;</p>", out);
  }
  std::fputs("<p align=\"left\">&nbsp;</p>", out);
}

// The pattern row of one drawn line: entries from `first` downwards until
// `columns` pattern columns are written, starting at phase f.
void write_pattern_row(std::FILE* out, const char* s, int32_t n, const std::vector<int32_t>& moves,
                       int64_t first, int32_t columns, int64_t pattern_start, int32_t L, int32_t f) {
  int32_t j = 0;
  for (int64_t e = first; j < columns && e >= 0; --e) {
    if (moves[static_cast<size_t>(e)] == kMoveUp) {
      std::fputc('-', out);
    } else {
      std::fputc(base_at(s, n, pattern_start + (j + f) % L), out);
      ++j;
    }
  }
}

// Alignment block of a definition 3 repeat: the repeat against its pattern,
// one line pair per pass through the pattern.
void write_alignment_block(std::FILE* out, const char* s, int32_t n, long row, long i,
                         const PatternRepeatRecord& rec, PatternWorkspace& ws, int32_t gap,
                         int32_t terminal_gap, int32_t mismatch, int32_t match, double t,
                         std::vector<int32_t>& moves) {
  const int32_t L = rec.motif_length;
  std::fprintf(out, "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %.1f &nbsp;&nbsp; <font color=\"#FFFF00\">Score:</font> %.0f</p>",
               row, i, L, rec.units, rec.score);
  const int32_t H = static_cast<int32_t>(L * rec.units);
  int32_t f = 0;
  const int32_t count = align_to_pattern(s, n, i - 1, int64_t{rec.pattern_start} - 1, H, L, ws,
                                         gap, terminal_gap, mismatch, match, t, moves, f);
  const char* const kLineStart = "<p align=\"left\"><font face=\"Courier New\">&nbsp;&nbsp;&nbsp;%ld<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  const char* const kRowBreak = "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  std::fprintf(out, kLineStart, i);
  int32_t t_cols = 0, u_ups = 0;
  int64_t written = 0, label = i;
  for (int64_t e = int64_t{count} - 1; e >= 0; --e) {
    if (t_cols == L) {
      std::fputs(kRowBreak, out);
      write_pattern_row(out, s, n, moves, e + t_cols + u_ups, L, rec.pattern_start, L, f);
      std::fputs("</font></p><p align=\"left\">&nbsp;</p>", out);
      t_cols = 0;
      u_ups = 0;
      std::fprintf(out, kLineStart, static_cast<long>(label));
    }
    const int32_t code = moves[static_cast<size_t>(e)];
    if (code == kMoveUp) {
      std::fputc(base_at(s, n, i + written++), out);
      ++label;
      ++u_ups;
    } else if (code == kMoveLeft) {
      std::fputc('-', out);
      ++t_cols;
    } else {
      std::fputc(base_at(s, n, i + written++), out);
      ++label;
      ++t_cols;
    }
  }
  std::fputs(kRowBreak, out);
  if (t_cols > 0) write_pattern_row(out, s, n, moves, -1 + t_cols + u_ups, t_cols, rec.pattern_start, L, f);
  std::fputs("<p align=\"left\">&nbsp;</p>", out);
}

// The units and score cells of a record, as the table prints them.
void format_cells(const RepeatRecord& rec, char (&units)[64], char (&score)[64]) {
  std::snprintf(units, sizeof units, "%ld", static_cast<long>(rec.units));
  std::snprintf(score, sizeof score, "%.2f", rec.similarity);
}
void format_cells(const PatternRepeatRecord& rec, char (&units)[64], char (&score)[64]) {
  std::snprintf(units, sizeof units, "%.1f", rec.units);
  std::snprintf(score, sizeof score, "%.0f", rec.score);
}

// One pass over the positions: every listed record, in chain order from the
// head, gets its table row, its text report row and its alignment block.
template <typename Record, typename Block>
void write_repeat_table(ReportFiles& files, bool coding, const RecordArena<Record>& records,
                        int32_t n, Block write_block) {
  long row = 0;
  char units[64], score[64];
  for (int32_t i = 0; i < n; ++i) {
    for (uint32_t x = static_cast<uint32_t>(i);; x = records.at(x).next) {
      const Record& rec = records.at(x);
      if (rec.listed == 1) {
        ++row;
        format_cells(rec, units, score);
        write_table_row(files.page(), coding, files.link_target, row, i, rec.motif_length, units,
                        score, rec.coding_name);
        write_text_row(files.text(), coding, i, rec.motif_length, units, static_cast<double>(rec.units),
                       score, rec.coding_name);
        if (files.alignments() != nullptr) write_block(row, i, rec);
      }
      if (rec.next == kNoRecord) break;
    }
  }
}

void close_report_files(ReportFiles& files) {
  files.page_out.finish();
  files.alignments_out.finish();
  files.text_out.finish();
}

}  // namespace

void write_report(int definition, const char* s, int32_t n, RecordTable& records, int32_t M,
                  const std::optional<std::string>& coding_file, const std::string& sequence_file,
                  int text_report, int alignments, AlignmentMatrix& matrix, int32_t gap,
                  int32_t terminal_gap, int32_t mismatch, int32_t match, double /*t*/) {
  const bool coding = coding_file.has_value();
  if (coding) {
    std::string name = definition == 2 ? read_file_name(*coding_file) : *coding_file;
    CodingRegionTable regions = read_coding_regions(name, stdin);
    annotate_coding_regions(regions, records, n);
  }
  ReportFiles files;
  open_report_files(files, definition, sequence_file, text_report, alignments, match, mismatch, gap,
                    terminal_gap, n);
  std::vector<int32_t> moves(static_cast<size_t>(kMoveListFactorCopies) * static_cast<size_t>(M > 0 ? M : 1), 0);
  write_table_header(files, coding, definition);
  write_repeat_table(files, coding, records, n, [&](long row, long i, const RepeatRecord& rec) {
    write_alignment_block(files.alignments(), definition, coding, s, n, row, i, rec, matrix, gap,
                          terminal_gap, mismatch, match, moves);
  });
  close_report_files(files);
}

void write_report(const char* s, int32_t n, PatternRepeatTable& records, int32_t /*M*/,
                  const std::optional<std::string>& coding_file, const std::string& sequence_file,
                  int text_report, int alignments, PatternWorkspace& workspace, int32_t gap,
                  int32_t terminal_gap, int32_t mismatch, int32_t match, double t) {
  const bool coding = coding_file.has_value();
  if (coding) {
    std::fputs("\nFile name: ", stdout);
    std::fflush(stdout);
    CodingRegionTable regions = read_coding_regions(read_file_name(*coding_file), stdin);
    annotate_coding_regions(regions, records, n);
  }
  ReportFiles files;
  open_report_files(files, 3, sequence_file, text_report, alignments, match, mismatch, gap,
                    terminal_gap, n);
  std::vector<int32_t> moves;  // grows to the longest traceback drawn
  write_table_header(files, coding, 3);
  write_repeat_table(files, coding, records, n, [&](long row, long i, const PatternRepeatRecord& rec) {
    write_alignment_block(files.alignments(), s, n, row, i, rec, workspace, gap, terminal_gap,
                          mismatch, match, t, moves);
  });
  close_report_files(files);
}

}  // namespace rivulon
