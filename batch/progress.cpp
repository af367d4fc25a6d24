#include "batch/progress.h"

#include <algorithm>
#include <cstdio>

namespace rivulon::batch {

namespace {

// A name cut shorter than this says too little; the rest of the line goes first.
constexpr int kShortestName = 10;

std::string size_text(double bases) {
  char text[32];
  if (bases >= 1e9) std::snprintf(text, sizeof text, "%.1f Gb", bases / 1e9);
  else if (bases >= 1e6) std::snprintf(text, sizeof text, "%.1f Mb", bases / 1e6);
  else if (bases >= 1e3) std::snprintf(text, sizeof text, "%.1f kb", bases / 1e3);
  else std::snprintf(text, sizeof text, "%.0f b", bases);
  return text;
}

// Characters of UTF-8 text (as cli::fit_to_width counts them).
int characters(const std::string& text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A record's name as the terminal may show it: control characters (which
// would move the cursor or change colours) as '?'.
std::string shown_name(const std::string& name) {
  if (name.empty()) return "reading";
  std::string shown = name;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return shown;
}

std::string cut_name(const std::string& name, int columns) {
  if (characters(name) <= columns) return name;
  return cli::fit_to_width(name, std::max(0, columns - 3)) + "...";
}

// The name and as many of `parts` (in order) as fit in `columns`, the name
// cut to fit before any part is left out.
std::string fit_line(const std::string& name, const std::vector<std::string>& parts, int columns) {
  for (size_t keep = parts.size(); keep >= 1; --keep) {
    std::string rest;
    for (size_t i = 0; i < keep; ++i) rest += parts[i];
    const int room = columns - characters(rest);
    if (characters(name) <= room || room >= kShortestName) return cut_name(name, room) + rest;
  }
  return cli::fit_to_width(cut_name(name, kShortestName) + parts[0], columns);
}

std::string counted(int64_t n, const char* one, const char* many) {
  return with_commas(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string with_commas(int64_t n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string ProgressMeter::line(const ProgressSnapshot& s, double elapsed, int columns) {
  double share = s.total > 0 ? std::min(1.0, s.done / s.total) : 0.0;
  if (!s.total_known) share = std::min(share, 0.999);
  share_ = std::max(share_, share);
  const double left = remaining_.update(share_, elapsed);
  char head[64];
  std::snprintf(head, sizeof head, "  %.1f%% of %s%s", 100.0 * share_, s.total_known ? "" : "~",
                size_text(s.total).c_str());
  std::vector<std::string> parts = {head, "  " + cli::clock_text(elapsed) + " elapsed"};
  if (left >= 0) parts.push_back("  about " + cli::clock_text(left) + " left");
  return fit_line(shown_name(s.record), parts, columns);
}

std::string progress_line(const ProgressSnapshot& snapshot, double elapsed, int columns) {
  return ProgressMeter().line(snapshot, elapsed, columns);
}

std::string final_line(int64_t repeats, int64_t records, int64_t not_examined,
                       const std::vector<std::string>& written_to) {
  std::string line = "rivulon-batch: " + (repeats == 0 ? std::string("no repeats")
                                                       : counted(repeats, "repeat", "repeats")) +
                     " in " + counted(records, "record", "records");
  if (not_examined > 0) line += " (" + counted(not_examined, "stretch", "stretches") + " not examined)";
  for (size_t i = 0; i < written_to.size(); ++i) {
    line += i == 0 ? "; written to " : ", ";
    line += written_to[i].empty() || written_to[i] == "-" ? "standard output" : written_to[i];
  }
  return line;
}

}  // namespace rivulon::batch
