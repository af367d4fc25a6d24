// A progress line on a terminal, shared by the programs: rewritten in place
// every half second while a run works, cut to the terminal's width so that
// it never wraps, cleared when it ends.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rivulon::cli {

// "H:MM:SS".
std::string clock_text(double seconds);

// "  about H:MM:SS left" from the share done (0..1) and the time it took;
// empty while the share is too small to tell or the work is done.
std::string remaining_text(double share, double elapsed_seconds);

// The share of a detection's work done once `done` of its `M` motif lengths
// are examined, for the console program's line: W(done) / W(M) with
// W(k) = k (k + 1) / 2 + k M / 2. 0 for M < 1.
double motif_work_share(int32_t done, int32_t M);

// The same share under the cost each definition (1, 2, 3) was measured to
// have: motif length L costs c(L) = 1 + g L + b max(0, B - L) (short motifs
// find many more candidates; longer ones align longer copies), and the share
// is the sum of c over the lengths done over the sum over all M.
//   definition 1: g = 0.002, b = 0.6, B = 20
//   definition 2: g = 0.011, b = 0.4, B = 28
//   definition 3: g = 0.002, b = 0.7, B = 32
// How much longer lengths cost depends on the sequence (arrays of long
// repeats make them several times dearer), so this is a compromise between
// bacterial and human sequences; it is exact at 0 and M. 0 for M < 1.
double motif_work_share(int32_t done, int32_t M, int32_t definition);

// The columns of the terminal `out` writes to, or 80 when it is no terminal
// or does not tell.
int terminal_columns(std::FILE* out);

// `line` cut to at most `columns` characters; a UTF-8 character counts as
// one and is never split.
std::string fit_to_width(const std::string& line, int columns);

// The time left in a run, from the share of it done at moments of its
// course. No estimate before kMinSeconds or kMinShare; then the pace of the
// later half of the time so far, so that work that speeds up or slows down
// is followed; the estimate shown counts down between looks and follows a
// changed estimate over about kSmoothSeconds rather than jumping.
class RemainingTime {
 public:
  static constexpr double kMinSeconds = 5;
  static constexpr double kMinShare = 0.01;
  static constexpr double kSmoothSeconds = 5;

  // Seconds left when `share` (0..1, never less than before) is done after
  // `elapsed` seconds (never less than before); negative: no estimate.
  double update(double share, double elapsed);

 private:
  struct Sample {
    double elapsed, share;
  };
  std::vector<Sample> samples_;  // from half the time so far on, 1% of it apart: at most ~70
  double shown_ = -1;            // the last estimate, negative when none
  double shown_at_ = 0;
};

// Writes line(elapsed seconds, columns) on `out` at once and then every half
// second, each over the last; `columns` is what the line may take (the
// terminal's width less one, so that it never wraps), and a longer line is
// cut to it. stop() (or the destructor) clears it.
class ProgressLine {
 public:
  ProgressLine(std::FILE* out, std::function<std::string(double, int)> line);
  ProgressLine(std::FILE* out, std::function<std::string(double)> line);
  ~ProgressLine() { stop(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void stop();

 private:
  std::FILE* out_;
  std::function<std::string(double, int)> line_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;

  void start();
};

}  // namespace rivulon::cli
