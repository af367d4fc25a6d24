#include "report/report_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "align/copy_alignment.h"

#include "align/pattern_alignment.h"
#include "report/coding_regions.h"
#include "report/escape.h"
#include "report/output_file.h"
#include "report/output_names.h"
#include "report/page.h"

namespace rivulon {

namespace {

constexpr int kMoveListFactorCopies = 2;

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

// One output page; a page that cannot be created is noted in `failures`.
struct ReportOutput {
  OutputFile file;
  Page page = Page::kReport;
  bool finished = false;  // written whole, waiting to be put in place
  bool failed = false;    // could not be written whole or put in place

  void open(const std::string& name, Page kind, PageFailures& failures) {
    page = kind;
    if (!file.open(name)) failures.push_back(kind);
  }
  bool opened() const { return file.stream() != nullptr; }
};

// The output files of one report, opened in the frame's order.
struct ReportFiles {
  ReportOutput page_out, alignments_out, text_out;
  std::string link_target;  // rows link into this page (URL-escaped)
  PageFailures failures;

  // The open streams; nullptr for a page not asked for or not created.
  std::FILE* page() const { return page_out.file.stream(); }
  std::FILE* alignments() const { return alignments_out.file.stream(); }
  std::FILE* text() const { return text_out.file.stream(); }
};

void open_report_files(ReportFiles& files, const ReportRequest& request, const Scoring& scoring,
                       int64_t n) {
  const std::string& page_name = request.names.report;
  files.link_target = url_escape(page_name);
  files.page_out.open(request.directory + page_name, Page::kReport, files.failures);
  if (request.alignments) {
    const std::string& alignments_name = request.names.alignments;
    files.link_target = url_escape(alignments_name);
    files.alignments_out.open(request.directory + alignments_name, Page::kAlignments,
                              files.failures);
    if (files.alignments() != nullptr) {
      write_page_head(files.alignments());
      write_parameter_lines(files.alignments(), scoring, n);
    }
  }
  const std::string& text_name = request.names.text;
  if (request.text_report) {
    files.text_out.open(request.directory + text_name, Page::kText, files.failures);
    if (files.text() != nullptr) write_text_report_head(files.text());
  }
  if (files.page() != nullptr) {
    write_page_head(files.page());
    if (request.text_report) {
      std::fprintf(files.page(), "<p><b>Please click for a <a href=\"%s\">text report</a>.</b></p>",
                   url_escape(text_name).c_str());
      std::fputs("<p>&nbsp;</p>", files.page());
    }
    write_parameter_lines(files.page(), scoring, n);
  }
}

void write_table_header(const ReportFiles& files, bool coding, int definition) {
  if (files.page() != nullptr) {
    std::FILE* out = files.page();
    if (coding) {
      // Byte-exact, do not normalise: definition 3's tag has two blanks before `width`.
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
    // Byte-exact, do not normalise: the table's lines end in "\r\n", the head's in "\n".
    std::fputs(coding ? "POSITION       LENGTH       UNITS               SCORE    GENE_ENCODED\r\n"
                      : "POSITION       LENGTH       UNITS               SCORE\r\n",
               files.text());
  }
}

// The cells of one row of the repeat table and of the text report.
struct TableRow {
  int64_t row;                 // 1-based row number, the anchor in the alignments page
  int64_t position;            // the repeat's start
  int32_t motif_length;
  const char* units;        // formatted
  double units_value;       // sets the text report's filler after the units
  const char* score;        // formatted
  const char* coding_name;  // the coding region, when the report has that column
};

void write_table_row(std::FILE* out, bool coding, const std::string& link_target, const TableRow& r) {
  if (out == nullptr) return;
  std::fputs("<tr>", out);
  if (coding) {
    std::fprintf(out, "<td width=\"147\" align=\"center\" height=\"19\"><a href=\"%s#%ld\">%ld</a></td>", link_target.c_str(), r.row, r.position);
    std::fprintf(out, "<td width=\"100\" align=\"center\" height=\"19\">%d</td>", r.motif_length);
    std::fprintf(out, "<td width=\"96\" align=\"center\" height=\"19\">%s</td>", r.units);
    std::fprintf(out, "<td width=\"87\" align=\"center\" height=\"19\">%s</td>", r.score);
    std::fprintf(out, "<td width=\"215\" align=\"center\" height=\"19\">%s</td>",
                 html_escape(r.coding_name).c_str());
  } else {
    std::fprintf(out, "<td width=\"130\" align=\"center\" height=\"19\"><a href=\"%s#%ld\">%ld</a></td>", link_target.c_str(), r.row, r.position);
    std::fprintf(out, "<td width=\"95\" align=\"center\" height=\"19\">%d</td>", r.motif_length);
    std::fprintf(out, "<td width=\"95\" align=\"center\" height=\"19\">%s</td>", r.units);
    std::fprintf(out, "<td width=\"80\" align=\"center\" height=\"19\">%s</td>", r.score);
  }
  std::fputs("</tr>", out);
}

void write_text_row(std::FILE* out, bool coding, const TableRow& r) {
  if (out == nullptr) return;
  std::fprintf(out, "  %ld ", r.position);
  write_filler(out, static_cast<double>(r.position + 1));
  std::fprintf(out, "  %ld ", static_cast<long>(r.motif_length));
  write_filler(out, r.motif_length);
  std::fprintf(out, "  %s ", r.units);
  write_filler(out, r.units_value);
  if (coding) {
    std::fprintf(out, "    %s     %s\r\n", r.score, r.coding_name);
  } else {
    std::fprintf(out, "    %s\r\n", r.score);
  }
}

// What every alignment block of one report shares.
struct Drawing {
  std::FILE* out;
  bool coding;
  SequenceView seq;
  const Scoring& scoring;
};

// Alignment block of a definition 1 or 2 repeat: every adjacent copy pair.
void write_alignment_block(const Drawing& d, int definition, int64_t row, const Repeat& rec,
                           AlignmentMatrix& matrix, std::vector<int32_t>& moves) {
  std::FILE* out = d.out;
  const bool coding = d.coding;
  const char* s = d.seq.bases;
  const int32_t n = d.seq.n;
  const int32_t L = rec.motif_length;
  const int64_t i = rec.start;
  const int32_t units = static_cast<int32_t>(rec.units);
  const float similarity = static_cast<float>(rec.value);  // the detector's float, exactly
  // Byte-exact, do not normalise: the heading opens with two &nbsp; when the
  // report has a coding-region column and with three when not.
  std::fprintf(out,
               coding ? "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %d &nbsp;&nbsp; <font color=\"#FFFF00\">Similarity level:</font> %.2f</p>"
                      : "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %d &nbsp;&nbsp; <font color=\"#FFFF00\">Similarity level:</font> %.2f</p>",
               row, i, L, units, similarity);
  for (int64_t m = 0; m + 2 <= units; ++m) {
    const int64_t first = i + int64_t{L} * m, second = first + L;
    const int32_t count =
        trace_copy_pair(d.seq, first - 1, L, 1, kFullDrawingUpTo, d.scoring, matrix, moves.data());
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
void write_pattern_row(std::FILE* out, SequenceView seq, const std::vector<int32_t>& moves,
                       int64_t first, int32_t columns, int64_t pattern_start, int32_t L, int32_t f) {
  int32_t j = 0;
  for (int64_t e = first; j < columns && e >= 0; --e) {
    if (moves[static_cast<size_t>(e)] == kMoveUp) {
      std::fputc('-', out);
    } else {
      std::fputc(base_at(seq.bases, seq.n, pattern_start + (j + f) % L), out);
      ++j;
    }
  }
}

// Alignment block of a definition 3 repeat: the repeat against its pattern,
// one line pair per pass through the pattern.
void write_alignment_block(const Drawing& d, double min_score, int64_t row, const Repeat& rec,
                           PatternWorkspace& ws, std::vector<int32_t>& moves) {
  std::FILE* out = d.out;
  const char* s = d.seq.bases;
  const int32_t n = d.seq.n;
  const int32_t L = rec.motif_length;
  const int64_t i = rec.start;
  const int64_t pattern_start = rec.motif_start;
  std::fprintf(out, "<p align=\"left\"><a name=\"%ld\"></a>&nbsp;&nbsp;<font color=\"#FFFF00\">Position:</font> %ld &nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> %d &nbsp;&nbsp;  <font color=\"#FFFF00\">Number of units:</font> %.1f &nbsp;&nbsp; <font color=\"#FFFF00\">Score:</font> %.0f</p>",
               row, i, L, rec.units, rec.value);
  const int32_t H = static_cast<int32_t>(L * rec.units);
  const PatternRegion region{i - 1, pattern_start - 1, H, L};
  const int32_t f = align_to_pattern(d.seq, region, d.scoring, min_score, ws, moves);
  const int32_t count = static_cast<int32_t>(moves.size());
  const char* const kLineStart = "<p align=\"left\"><font face=\"Courier New\">&nbsp;&nbsp;&nbsp;%ld<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  const char* const kRowBreak = "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  std::fprintf(out, kLineStart, i);
  int32_t t_cols = 0, u_ups = 0;
  int64_t written = 0, label = i;
  for (int64_t e = int64_t{count} - 1; e >= 0; --e) {
    if (t_cols == L) {
      std::fputs(kRowBreak, out);
      write_pattern_row(out, d.seq, moves, e + t_cols + u_ups, L, pattern_start, L, f);
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
  // Byte-exact, do not "fix": once the move list has run out, the current entry
  // reads as one below the last (-1), so the last pattern row starts at
  // -1 + t_cols + u_ups, not at t_cols + u_ups.
  if (t_cols > 0) write_pattern_row(out, d.seq, moves, -1 + t_cols + u_ups, t_cols, pattern_start, L, f);
  std::fputs("<p align=\"left\">&nbsp;</p>", out);
}

// Every repeat, in the order given, gets its table row, its text report row
// and its alignment block.
template <typename Block>
void write_repeat_table(ReportFiles& files, const std::vector<Repeat>& repeats,
                        const std::vector<std::string>* coding, Block write_block) {
  for (size_t k = 0; k < repeats.size(); ++k) {
    const Repeat& rec = repeats[k];
    const int64_t row = static_cast<int64_t>(k) + 1;
    const TableRow cells{row, rec.start, rec.motif_length, rec.units_text.c_str(), rec.units,
                         rec.value_text.c_str(), coding != nullptr ? (*coding)[k].c_str() : ""};
    write_table_row(files.page(), coding != nullptr, files.link_target, cells);
    write_text_row(files.text(), coding != nullptr, cells);
    if (files.alignments() != nullptr) write_block(row, rec);
  }
}

// Every page is written whole before any is put in place, and the report
// page goes last, so that it never links into an older alignments page. Pages
// that fail are noted in the frame's order: report, alignments, text.
void close_report_files(ReportFiles& files, std::vector<OutputFile>* unplaced) {
  ReportOutput* const frame_order[] = {&files.page_out, &files.alignments_out, &files.text_out};
  for (ReportOutput* out : frame_order) {
    if (!out->opened()) continue;
    out->finished = out->file.finish();
    out->failed = !out->finished;
  }
  for (ReportOutput* out : {&files.alignments_out, &files.text_out, &files.page_out}) {
    if (!out->finished) continue;
    if (unplaced != nullptr) {
      unplaced->push_back(std::move(out->file));
    } else if (!out->file.put_in_place()) {
      out->failed = true;
    }
  }
  for (ReportOutput* out : frame_order) {
    if (out->failed) files.failures.push_back(out->page);
  }
}

// The longest motif among the repeats: what the drawings need room for.
int32_t longest_motif(const std::vector<Repeat>& repeats) {
  int32_t longest = 1;
  for (const Repeat& r : repeats) longest = std::max(longest, r.motif_length);
  return longest;
}

}  // namespace

PageFailures write_report(const ReportRequest& request, std::string_view bases, const Options& options,
                          const std::vector<Repeat>& repeats) {
  // The drawings read a NUL after the last base: they read a copy.
  const std::string copy(bases);
  const SequenceView seq{copy.c_str(), static_cast<int32_t>(copy.size())};
  const Scoring scoring =
      scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
  const bool coding = request.coding != nullptr;
  ReportFiles files;
  open_report_files(files, request, scoring, seq.n);
  write_table_header(files, coding, options.definition);
  const Drawing drawing{files.alignments(), coding, seq, scoring};
  const int32_t longest = request.alignments ? longest_motif(repeats) : 1;
  if (options.definition == 3) {
    PatternWorkspace workspace(longest);
    std::vector<int32_t> moves;  // grows to the longest traceback drawn
    write_repeat_table(files, repeats, request.coding, [&](int64_t row, const Repeat& rec) {
      write_alignment_block(drawing, options.min_score, row, rec, workspace, moves);
    });
  } else {
    AlignmentMatrix matrix(longest, /*tracing=*/true);
    std::vector<int32_t> moves(static_cast<size_t>(kMoveListFactorCopies) * static_cast<size_t>(longest), 0);
    write_repeat_table(files, repeats, request.coding, [&](int64_t row, const Repeat& rec) {
      write_alignment_block(drawing, options.definition, row, rec, matrix, moves);
    });
  }
  close_report_files(files, request.unplaced);
  return files.failures;
}

}  // namespace rivulon
