// The repeats of one stretch of bases, as the batch program reports them.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/options.h"
#include "report/report_writer.h"
#include "rivulon/executor.h"
#include "rivulon/rivulon.h"

namespace rivulon::batch {

// The period classes repeats are counted in (the summary page, the chance
// rates), by the consensus's length.
struct PeriodClass {
  int32_t low, high;
};
inline constexpr std::array<PeriodClass, 3> kPeriodClasses = {{{1, 6}, {7, 99}, {100, 500}}};

// The class of a period: the first whose upper bound it does not pass.
inline size_t period_class(int64_t period) {
  size_t c = 0;
  while (c + 1 < kPeriodClasses.size() && period > kPeriodClasses[c].high) ++c;
  return c;
}

// "1-6" for the first class.
inline std::string period_class_name(size_t c) {
  return std::to_string(kPeriodClasses[c].low) + "-" + std::to_string(kPeriodClasses[c].high);
}

// A repeat in its record's coordinates (0-based, `end` one past the last
// base).
using FoundRepeat = Repeat;

struct StretchResult {
  // The calls reported: every repeat of the definition in the text report's
  // order (--overlaps all), or one per locus by start, then filtered.
  std::vector<FoundRepeat> repeats;
  std::vector<RepeatStatistics> statistics;  // of each call
  std::vector<int32_t> page_rows;            // each call's row in its stretch's pages (1-based; 0: not there)
  std::vector<CopyLayout> layouts;           // the alignments view: each call's copies, in record coordinates
  // --control: per shuffle, the calls on the shuffled stretch by period
  // class (all, 1-6, 7-99, 100-500).
  std::vector<std::array<int64_t, 4>> chance;
  std::optional<Failure> failure;    // the stretch could not be examined
  PageFailures pages;                // report pages that could not be written
  std::vector<OutputFile> unplaced;  // pages written whole, put in place at the end of the run
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
