#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

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

double motif_work_share(int32_t done, int32_t M, int32_t definition) {
  if (M < 1) return 0.0;
  struct Cost {
    double g, b, B;
  };
  static constexpr Cost kCosts[] = {{0.002, 0.6, 20}, {0.011, 0.4, 28}, {0.002, 0.7, 32}};
  const Cost& c = kCosts[std::clamp(definition, 1, 3) - 1];
  // The sum of c(L) for L = 1..k.
  auto work = [&c](double k) {
    const double m = std::min(k, c.B);
    return k + c.g * k * (k + 1) / 2 + c.b * (m * c.B - m * (m + 1) / 2);
  };
  return work(std::clamp(done, 0, M)) / work(M);
}

int terminal_columns(std::FILE* out) {
  const int fd = out != nullptr ? fileno(out) : -1;
  winsize size{};
  if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::string fit_to_width(const std::string& line, int columns) {
  if (columns <= 0) return "";
  int count = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    if (starts_character && count++ == columns) return line.substr(0, i);
  }
  return line;
}

double RemainingTime::update(double share, double elapsed) {
  share = std::clamp(share, 0.0, 1.0);
  if (!samples_.empty()) {
    share = std::max(share, samples_.back().share);
    elapsed = std::max(elapsed, samples_.back().elapsed);
  }
  // The pace is taken from the last sample at or before half the time so far.
  const auto later_half = std::find_if(samples_.begin(), samples_.end(),
                                       [elapsed](const Sample& s) { return s.elapsed > elapsed / 2; });
  if (later_half - samples_.begin() > 1) samples_.erase(samples_.begin(), later_half - 1);
  const Sample base = !samples_.empty() && samples_.front().elapsed <= elapsed / 2 ? samples_.front()
                                                                                  : Sample{0, 0};
  if (samples_.empty() || elapsed > samples_.back().elapsed * 1.01) samples_.push_back({elapsed, share});

  if (share >= 1.0 || elapsed < kMinSeconds || share < kMinShare) {
    shown_ = -1;
    return -1;
  }
  const double pace = share > base.share && elapsed > base.elapsed
                          ? (share - base.share) / (elapsed - base.elapsed)
                          : share / elapsed;
  const double estimate = (1.0 - share) / pace;
  if (shown_ < 0) {
    shown_ = estimate;
  } else {
    const double since = elapsed - shown_at_;
    const double counted_down = std::max(0.0, shown_ - since);
    shown_ = counted_down + (1.0 - std::exp(-since / kSmoothSeconds)) * (estimate - counted_down);
  }
  shown_at_ = elapsed;
  return shown_;
}

ProgressLine::ProgressLine(std::FILE* out, std::function<std::string(double, int)> line)
    : out_(out), line_(std::move(line)) {
  // The line is a courtesy: a thread the system cannot start means no line.
  try {
    start();
  } catch (const std::system_error&) {
  }
}

ProgressLine::ProgressLine(std::FILE* out, std::function<std::string(double)> line)
    : ProgressLine(out, [line = std::move(line)](double elapsed, int) { return line(elapsed); }) {}

void ProgressLine::start() {
  thread_ = std::thread([this] {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock_);
    do {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      // Asked each time: the terminal may have been resized.
      const int columns = std::max(0, terminal_columns(out_) - 1);
      std::fprintf(out_, "\r\033[K%s", fit_to_width(line_(elapsed, columns), columns).c_str());
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
