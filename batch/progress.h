// What the batch program's progress line says.
#pragma once
#include <string>

namespace rivulon::batch {

struct ProgressSnapshot {
  std::string record;        // the first record not yet written
  double done = 0;           // bases examined (running stretches count in part)
  double total = 0;          // bases of the input: read so far, or estimated
  bool total_known = false;  // the whole input has been read
};

// "chr1  43.5% of 4.2 Mb  0:01:02 elapsed  about 0:01:20 left".
std::string progress_line(const ProgressSnapshot& snapshot, double elapsed_seconds);

}  // namespace rivulon::batch
