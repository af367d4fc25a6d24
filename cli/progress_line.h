// A progress line on a terminal, shared by the programs: rewritten in place
// every half second while a run works, cleared when it ends.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace rivulon::cli {

// "H:MM:SS".
std::string clock_text(double seconds);

// "  about H:MM:SS left" from the share done (0..1) and the time it took;
// empty while the share is too small to tell or the work is done.
std::string remaining_text(double share, double elapsed_seconds);

// The share of a detection's work done once `done` of its `M` motif lengths
// are examined. Longer motifs cost more: measured on the HLA region, the time
// a motif length takes grows about as L + M / 2, so the share is W(done) /
// W(M) with W(k) = k (k + 1) / 2 + k M / 2. 0 for M < 1.
double motif_work_share(int32_t done, int32_t M);

// Writes line(elapsed seconds) on `out` at once and then every half second,
// each over the last; stop() (or the destructor) clears it.
class ProgressLine {
 public:
  ProgressLine(std::FILE* out, std::function<std::string(double)> line);
  ~ProgressLine() { stop(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void stop();

 private:
  std::FILE* out_;
  std::function<std::string(double)> line_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;

  void start();
};

}  // namespace rivulon::cli
