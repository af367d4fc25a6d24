#include "batch/progress.h"

#include <algorithm>
#include <cstdio>

#include "cli/progress_line.h"

namespace rivulon::batch {

namespace {

std::string size_text(double bases) {
  char text[32];
  if (bases >= 1e9) std::snprintf(text, sizeof text, "%.1f Gb", bases / 1e9);
  else if (bases >= 1e6) std::snprintf(text, sizeof text, "%.1f Mb", bases / 1e6);
  else if (bases >= 1e3) std::snprintf(text, sizeof text, "%.1f kb", bases / 1e3);
  else std::snprintf(text, sizeof text, "%.0f b", bases);
  return text;
}

}  // namespace

std::string progress_line(const ProgressSnapshot& s, double elapsed) {
  const double share = s.total > 0 ? std::min(1.0, s.done / s.total) : 0.0;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%.1f%%", 100.0 * share);
  const std::string record = s.record.empty() ? "reading" : s.record;
  return (record.size() > 30 ? record.substr(0, 27) + "..." : record) + "  " + percent + " of " +
         (s.total_known ? "" : "~") + size_text(s.total) + "  " + cli::clock_text(elapsed) +
         " elapsed" + cli::remaining_text(share, elapsed);
}

}  // namespace rivulon::batch
