// A progress line on standard error, rewritten in place while the run works.
#pragma once
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace rivulon::batch {

struct ProgressSnapshot {
  std::string record;        // the first record not yet written
  double done = 0;           // bases examined (running stretches count in part)
  double total = 0;          // bases of the input: read so far, or estimated
  bool total_known = false;  // the whole input has been read
};

// "chr1  43.5% of 4.2 Mb  0:01:02 elapsed  about 0:01:20 left".
std::string progress_line(const ProgressSnapshot& snapshot, double elapsed_seconds);

// Every half second, samples the run and rewrites the line; stop() (or the
// destructor) clears it. The first line is written at once.
class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* out, std::function<ProgressSnapshot()> sample);
  ~ProgressDisplay() { stop(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;
  void stop();

 private:
  std::FILE* out_;
  std::function<ProgressSnapshot()> sample_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace rivulon::batch
