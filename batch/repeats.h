// The repeats of one stretch of bases, as the batch program reports them.
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "align/sequence.h"
#include "batch/options.h"
#include "detect/detection.h"
#include "report/cells.h"
#include "report/report_writer.h"
#include "rivulon/executor.h"

namespace rivulon::batch {

struct FoundRepeat {
  int64_t start = 0;        // 0-based, in the record
  int64_t end = 0;          // one past the last base, at most the stretch's end
  int64_t motif_start = 0;  // 0-based, in the record: the first copy or the pattern's copy
  int32_t motif_length = 0;
  int32_t row = 0;          // 1-based row in its stretch's report pages
  double units = 0;         // copies (definition 3: with a fraction)
  double value = 0;         // similarity level (definitions 1, 2) or score (definition 3)
  RepeatCells cells;        // units and value as the text report prints them
};

struct StretchResult {
  std::vector<FoundRepeat> repeats;        // in the text report's order
  std::optional<DetectionFailure> failure;  // the stretch could not be examined
  PageFailures pages;                       // report pages that could not be written
  std::vector<OutputFile> unplaced;         // pages written whole, put in place at the end of the run
};

// Where a stretch's classic pages go, when they are asked for.
struct PageTarget {
  std::string directory;  // ending in '/'
  PageNames names;
};

// Runs the chosen definition over `stretch` (a slice of its record, read
// only) whose first base stands at `offset` in its record.
StretchResult find_repeats(const BatchOptions& options, std::string_view stretch, int64_t offset,
                           Executor& executor, std::atomic<int32_t>* lengths_done,
                           const std::optional<PageTarget>& pages);

}  // namespace rivulon::batch
