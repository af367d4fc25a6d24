#include "driver/dialogue.h"

#include <cctype>
#include <limits>
#include <string>

#include "driver/fatal.h"
#include "driver/messages.h"
#include "rivulon/rivulon.h"

namespace rivulon {

namespace {

bool is_blank(int c) { return c == ' ' || c == '\t'; }

// After a number: blanks that end the line are dropped with the line's "\r",
// so that "80 \r\n" reads as "80\n". Anything else stays in the stream as it
// was (glibc takes back more than one character).
void drop_blanks_before_line_end(std::FILE* in) {
  std::string blanks;
  int c = std::getc(in);
  while (is_blank(c)) {
    blanks.push_back(static_cast<char>(c));
    c = std::getc(in);
  }
  if (c == '\r') {
    const int next = std::getc(in);
    if (next == '\n') {
      std::ungetc('\n', in);
      return;
    }
    if (next != EOF) std::ungetc(next, in);
  } else if (c == '\n' || c == EOF) {
    if (c == '\n') std::ungetc(c, in);
    return;
  }
  if (c != EOF) std::ungetc(c, in);
  for (auto it = blanks.rbegin(); it != blanks.rend(); ++it) std::ungetc(*it, in);
}

}  // namespace

std::optional<int64_t> read_number(std::FILE* in) {
  int c = std::getc(in);
  while (c != EOF && std::isspace(c)) c = std::getc(in);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = (c == '-');
    c = std::getc(in);
  }
  if (c == EOF || !std::isdigit(c)) {
    if (c != EOF) std::ungetc(c, in);
    return std::nullopt;
  }
  constexpr int64_t kCap = std::numeric_limits<int64_t>::max() / 10 - 10;
  int64_t value = 0;
  while (c != EOF && std::isdigit(c)) {
    if (value < kCap) value = value * 10 + (c - '0');
    c = std::getc(in);
  }
  if (c != EOF) std::ungetc(c, in);
  drop_blanks_before_line_end(in);
  return negative ? -value : value;
}

bool read_answer(std::FILE* in) {
  int first = std::getc(in);
  if (first == EOF) return false;
  if (first == '\r') {  // "\r\n" ends a line as "\n" does
    const int next = std::getc(in);
    if (next != '\n' && next != EOF) std::ungetc(next, in);
    if (next == '\n') first = next;
  }
  int second = std::getc(in);
  return second == 'Y' || second == 'y';
}

namespace {

// The range of a parameter, from the library's table.
struct Range {
  int64_t lo, hi;
};
Range range_of(const char* option) {
  const Parameter* p = parameter(option);
  return {p->lo, p->hi};
}

// Reads one number after its prompt; rejects it with `code` unless it lies in the range.
int32_t ask_number(std::FILE* in, std::FILE* out, const char* prompt, Range range, int code) {
  const int64_t lo = range.lo, hi = range.hi;
  std::fputs(prompt, out);
  std::fflush(out);
  std::optional<int64_t> value = read_number(in);
  if (!value || *value < lo || *value > hi) {
    show_parameter_error(out, code);
    fatal(kExitParameter);
  }
  return static_cast<int32_t>(*value);
}

}  // namespace

void run_dialogue(std::FILE* in, std::FILE* out, RunSettings& s) {
  std::fputs("Please insert the desired alignment parameters (whole positive numbers)\n", out);
  s.match = ask_number(in, out, "Match score: ", range_of("--match"), kMsgNegativeParameter);
  s.mismatch = ask_number(in, out, "Mismatch penalty: ", range_of("--mismatch"), kMsgNegativeParameter);
  s.gap = ask_number(in, out, "Gap (insertion or deletion) penalty: ", range_of("--gap"), kMsgNegativeParameter);
  s.terminal_gap = ask_number(in, out, "Terminal gap penalty: ", range_of("--terminal-gap"), kMsgNegativeParameter);
  s.max_motif = ask_number(in, out, "Please insert the desired maximum motif length (1-500): ",
                           range_of("--max-motif"), kMsgNotInteger);
  std::fputs("Please choose the desired definition of an ATR\n", out);
  std::fputs("1 - Using the similarity level between adjacent copies\n", out);
  std::fputs("2 - Using the average similarity level between adjacent copies\n", out);
  std::fputs("3 - Using the alignment score with a repeating pattern\n", out);
  s.definition = ask_number(in, out, "Definition (1-3): ", range_of("--definition"), kMsgNotInteger);
  if (s.definition == 3) {
    s.min_score = ask_number(in, out, "Minimum score to report (30-150):", range_of("--min-score"), kMsgNotInteger);
  } else {
    s.level = ask_number(in, out, "Minimum Similarity Level: (minimum - 50; maximum - Match Score*100):",
                         Range{range_of("--level").lo, range_of("--level").hi * s.match}, kMsgNotInteger);
  }
  std::fputs("Do you want Rivulon to generate a file with the alignments (Y/N)?", out);
  std::fflush(out);
  s.alignments = read_answer(in);
  std::fputs("\nDo you want Rivulon to generate the output also as a text file (Y/N)?", out);
  std::fflush(out);
  s.text_report = read_answer(in);
  std::fputs("\n", out);
}

}  // namespace rivulon
