#include "batch/progress.h"

#include <chrono>
#include <cmath>

namespace rivulon::batch {

namespace {

std::string clock_text(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

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
  std::string line = (record.size() > 30 ? record.substr(0, 27) + "..." : record) + "  " +
                     percent + " of " + (s.total_known ? "" : "~") + size_text(s.total) + "  " +
                     clock_text(elapsed) + " elapsed";
  if (share >= 0.001 && share < 1.0) {
    line += "  about " + clock_text(elapsed * (1.0 - share) / share) + " left";
  }
  return line;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, std::function<ProgressSnapshot()> sample)
    : out_(out), sample_(std::move(sample)) {
  thread_ = std::thread([this] {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock_);
    do {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::fprintf(out_, "\r\033[K%s", progress_line(sample_(), elapsed).c_str());
      std::fflush(out_);
    } while (!wake_.wait_for(guard, std::chrono::milliseconds(500), [this] { return stopping_; }));
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
  });
}

void ProgressDisplay::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace rivulon::batch
