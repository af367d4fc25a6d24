#include "cli/progress_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>

namespace rivulon::cli {

std::string clock_text(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::string remaining_text(double share, double elapsed) {
  if (!(share >= 0.001 && share < 1.0)) return "";
  return "  about " + clock_text(elapsed * (1.0 - share) / share) + " left";
}

double motif_work_share(int32_t done, int32_t M) {
  if (M < 1) return 0.0;
  auto work = [M](double k) { return k * (k + 1) / 2 + k * M / 2.0; };
  return work(std::clamp(done, 0, M)) / work(M);
}

ProgressLine::ProgressLine(std::FILE* out, std::function<std::string(double)> line)
    : out_(out), line_(std::move(line)) {
  // The line is a courtesy: a thread the system cannot start means no line.
  try {
    start();
  } catch (const std::system_error&) {
  }
}

void ProgressLine::start() {
  thread_ = std::thread([this] {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock_);
    do {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::fprintf(out_, "\r\033[K%s", line_(elapsed).c_str());
      std::fflush(out_);
    } while (!wake_.wait_for(guard, std::chrono::milliseconds(500), [this] { return stopping_; }));
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
  });
}

void ProgressLine::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace rivulon::cli
