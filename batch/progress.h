// What the batch program says about its course: the progress line while it
// runs, and one line when it is done.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/progress_line.h"

namespace rivulon::batch {

struct ProgressSnapshot {
  std::string record;        // the first record not yet written
  double done = 0;           // bases examined (running stretches count in part)
  double total = 0;          // bases of the input: read so far, or estimated
  bool total_known = false;  // the whole input has been read
};

// The progress line of one run, looked at again and again:
// "chr1  43.5% of 4.2 Mb  0:01:02 elapsed  about 0:01:20 left".
// The share shown never goes back (while the input is still being read its
// size is an estimate, which can grow) and stays below 100% until the size
// is known; the time left is cli::RemainingTime's. The line takes at most
// `columns` characters: the record's name is cut first ("..." at its end),
// then the time left, then the time elapsed are left out.
class ProgressMeter {
 public:
  std::string line(const ProgressSnapshot& snapshot, double elapsed_seconds, int columns);

 private:
  double share_ = 0;
  cli::RemainingTime remaining_;
};

// The line from a single look at a run (what a new ProgressMeter shows).
std::string progress_line(const ProgressSnapshot& snapshot, double elapsed_seconds, int columns = 79);

// The line the program ends with:
// "rivulon-batch: 1,234 repeats in 8 records; written to out.tsv, out.bed".
// Stretches that could not be examined are counted after the records ("(2
// stretches not examined)"); "-" or "" in `written_to` is standard output;
// no "written to" part when `written_to` is empty.
std::string final_line(int64_t repeats, int64_t records, int64_t stretches_not_examined,
                       const std::vector<std::string>& written_to);

// "1,234,567".
std::string with_commas(int64_t n);

}  // namespace rivulon::batch
