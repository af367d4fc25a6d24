#include "batch/repeats.h"

#include <variant>

namespace rivulon::batch {

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
  result.repeats = std::move(std::get<std::vector<Repeat>>(found));
  if (pages) {
    const ReportRequest request{pages->names, true, true, nullptr, pages->directory, &result.unplaced};
    result.pages = write_report(request, stretch, options, result.repeats);
  }
  for (Repeat& r : result.repeats) {
    r.start += offset;
    r.end += offset;
    r.motif_start += offset;
  }
  return result;
}

}  // namespace rivulon::batch
