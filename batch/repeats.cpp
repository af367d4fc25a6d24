#include "batch/repeats.h"

#include <variant>

namespace rivulon::batch {

namespace {

constexpr uint64_t kControlSeed = 0x9E3779B97F4A7C15ULL;

// The calls the options keep, with their statistics and rows in the pages
// (0 for a call of the adjacent-copy search, which the pages do not hold).
void keep_calls(const BatchOptions& options, std::string_view stretch, const std::vector<Repeat>& repeats,
                Executor* executor, StretchResult& result) {
  Reporting reporting = reporting_of(options);
  reporting.executor = executor;
  for (Call& call : report_calls(stretch, repeats, options, reporting)) {
    result.page_rows.push_back(call.source < repeats.size() ? static_cast<int32_t>(call.source) + 1 : 0);
    result.repeats.push_back(std::move(call.repeat));
    result.statistics.push_back(std::move(call.statistics));
  }
}

// The calls on `shuffles` dinucleotide shuffles of `stretch`, by period class,
// made with the options of the run; the seeds follow from the stretch's place.
std::vector<std::array<int64_t, 4>> chance_calls(const BatchOptions& options, std::string_view stretch, int64_t offset,
                                                 Workspace& workspace, RunControl control) {
  std::vector<std::array<int64_t, 4>> counts;
  control.lengths_done = nullptr;  // the progress line counts the real stretches
  for (int32_t k = 1; k <= options.control; ++k) {
    const uint64_t seed = kControlSeed ^ (static_cast<uint64_t>(k) << 40) ^ static_cast<uint64_t>(offset) ^
                          (static_cast<uint64_t>(stretch.size()) << 20);
    const std::string shuffled = shuffle_dinucleotides(stretch, seed);
    Result found = rivulon::find_repeats(shuffled, options, workspace, control);
    StretchResult calls;
    if (const auto* repeats = std::get_if<std::vector<Repeat>>(&found)) {
      keep_calls(options, shuffled, *repeats, control.executor, calls);
    }
    std::array<int64_t, 4>& c = counts.emplace_back(std::array<int64_t, 4>{0, 0, 0, 0});
    for (const RepeatStatistics& st : calls.statistics) {
      ++c[0];
      ++c[1 + period_class(static_cast<int64_t>(st.consensus.size()))];
    }
  }
  return counts;
}

}  // namespace

StretchResult find_repeats(const BatchOptions& options, std::string_view stretch, int64_t offset,
                           Executor& executor, std::atomic<int32_t>* lengths_done,
                           const std::optional<PageTarget>& pages) {
  // One work space per pool thread, kept from stretch to stretch. A thread
  // examines one stretch at a time: while a stretch waits for its motif
  // lengths, its thread runs only those, never another stretch.
  thread_local Workspace workspace;
  RunControl control;
  control.lengths_done = lengths_done;
  control.executor = &executor;
  Result found = rivulon::find_repeats(stretch, options, workspace, control);
  StretchResult result;
  if (Failure* failure = std::get_if<Failure>(&found)) {
    result.failure = std::move(*failure);
    return result;
  }
  const std::vector<Repeat>& repeats = std::get<std::vector<Repeat>>(found);
  if (pages) {
    const ReportRequest request{pages->names, true, true, nullptr, pages->directory, &result.unplaced};
    result.pages = write_report(request, stretch, options, repeats);
  }
  keep_calls(options, stretch, repeats, &executor, result);
  if (!options.report_dir.empty() && !options.classic_pages) {
    for (size_t k = 0; k < result.repeats.size(); ++k) {
      CopyLayout& layout = result.layouts.emplace_back(align_copies(
          stretch, result.repeats[k].start, result.repeats[k].end, result.statistics[k].consensus, options));
      layout.aligned_start += offset;
      layout.aligned_end += offset;
      for (CopyAlignment& copy : layout.copies) {
        copy.start += offset;
        copy.end += offset;
      }
    }
  }
  if (options.control > 0) result.chance = chance_calls(options, stretch, offset, workspace, control);
  for (Repeat& r : result.repeats) {
    r.start += offset;
    r.end += offset;
    r.motif_start += offset;
  }
  return result;
}

}  // namespace rivulon::batch
