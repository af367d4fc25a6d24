#include "report/page.h"

namespace rivulon {

namespace {

// Items 2..15 of the page head: everything but the opening html tag.
void write_head_body(std::FILE* out) {
  std::fputs("<head>", out);
  std::fputs("<meta http-equiv=\"Content-Language\" content=\"en-us\">", out);
  std::fputs("<meta name=\"GENERATOR\" content=\"Microsoft FrontPage 5.0\">", out);
  std::fputs("<meta name=\"ProgId\" content=\"FrontPage.Editor.Document\">", out);
  std::fputs("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">", out);
  std::fputs("<title>Rivulon program written by</title>", out);
  std::fputs("</head>", out);
  std::fputs("<body bgcolor=\"#CC9386\">", out);
  std::fputs("<p>&nbsp;</p>", out);
  std::fputs("<p>Rivulon program written by:</p>", out);
  std::fprintf(out, "<p align=\"center\">%s<br>", kAuthors);
  std::fprintf(out, "%s<br>", kDepartment);
  std::fprintf(out, "%s</p>", kInstitution);
  std::fputs("<p align=\"center\">&nbsp;</p>", out);
}

}  // namespace

void write_page_head(std::FILE* out) {
  std::fputs("<html dir=\"ltr\">", out);
  write_head_body(out);
}

// Byte-exact, do not normalise: the provisional page has no opening html tag,
// its second line ends in a blank, and its last paragraph closes apart.
void write_provisional_page(std::FILE* out) {
  write_head_body(out);
  std::fputs("<p align=\"left\"><font size=\"4\">Please press Refresh.</font></p>", out);
  std::fputs("<p align=\"left\"><font size=\"4\">The output will be ready shortly. </font>", out);
  std::fputs("</p>", out);
}

void write_text_report_head(std::FILE* out) {
  std::fputs("Rivulon\n", out);
  std::fprintf(out, "%s\n", kAuthors);
  std::fprintf(out, "%s\n", kDepartment);
  std::fprintf(out, "%s\n\n\n", kInstitution);
}

void write_parameter_lines(std::FILE* out, const Scoring& scoring, int64_t length) {
  std::fprintf(out, "<p align=\"left\">Alignment parameters:&nbsp; %d %d %d %d<br>", scoring.match,
               scoring.mismatch, scoring.gap, scoring.terminal_gap);
  std::fprintf(out, "Sequence length: %ld</p>", static_cast<long>(length));
}

}  // namespace rivulon
