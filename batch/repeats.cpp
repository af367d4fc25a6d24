#include "batch/repeats.h"

#include <algorithm>
#include <variant>

#include "detect/definition1.h"
#include "detect/definition2.h"
#include "detect/definition3.h"
#include "stats/composition.h"

namespace rivulon::batch {

namespace {

// The listed records of a table in the text report's order, in the record's
// coordinates; `row` gives positions in the stretch of n bases.
template <typename Table, typename Row>
std::vector<FoundRepeat> listed_repeats(const Table& table, int64_t offset, int32_t n, Row row) {
  std::vector<FoundRepeat> repeats;
  for_each_listed(table, [&](const auto& rec, int64_t i) {
    FoundRepeat r = row(rec, static_cast<int32_t>(i));
    r.start += offset;
    r.end = std::min<int64_t>(r.end, n) + offset;
    r.motif_start += offset;
    r.cells = format_cells(rec);
    r.row = static_cast<int32_t>(repeats.size()) + 1;
    repeats.push_back(r);
  });
  return repeats;
}

}  // namespace

StretchResult find_repeats(const BatchOptions& options, std::string_view bases, int64_t offset,
                           Executor& executor, std::atomic<int32_t>* lengths_done,
                           const std::optional<PageTarget>& pages) {
  // The detectors and page writers read a NUL after the last base: they get
  // a copy of the stretch, and the record other threads read stays as it is.
  const std::string copy(bases);
  const SequenceView stretch{copy.c_str(), static_cast<int32_t>(copy.size())};
  const Scoring scoring = options.scoring();
  DetectionInput in{stretch,
                    scoring,
                    options.threshold(),
                    motif_lengths_examined(options, stretch.n),
                    match_probability(count_bases(stretch), stretch.n),
                    executor.threads(),
                    lengths_done};
  in.executor = &executor;
  StretchResult result;
  std::optional<ReportRequest> request;
  if (pages) request = ReportRequest{pages->names, true, true, false, pages->directory, &result.unplaced};
  const int32_t n = stretch.n;
  if (options.definition == 3) {
    Detection<PatternRepeatTable> found = detect_definition3(in);
    if (auto* failure = std::get_if<DetectionFailure>(&found)) {
      result.failure = *failure;
      return result;
    }
    const PatternRepeatTable& table = std::get<PatternRepeatTable>(found);
    result.repeats = listed_repeats(table, offset, n, [](const PatternRepeatRecord& rec, int32_t i) {
      // The drawing's length of the repeat: L x units, the fraction cut.
      const int64_t span = static_cast<int32_t>(rec.motif_length * rec.units);
      return FoundRepeat{.start = i, .end = i + span, .motif_start = rec.pattern_start,
                         .motif_length = rec.motif_length, .units = rec.units, .value = rec.score, .cells = {}};
    });
    if (request) result.pages = write_report(*request, stretch, scoring, in.threshold, table);
    return result;
  }
  Detection<RecordTable> found =
      options.definition == 1 ? detect_definition1(in) : detect_definition2(in);
  if (auto* failure = std::get_if<DetectionFailure>(&found)) {
    result.failure = *failure;
    return result;
  }
  const RecordTable& table = std::get<RecordTable>(found);
  result.repeats = listed_repeats(table, offset, n, [](const RepeatRecord& rec, int32_t i) {
    const int64_t span = int64_t{rec.motif_length} * rec.units;
    return FoundRepeat{.start = i, .end = i + span, .motif_start = i, .motif_length = rec.motif_length,
                       .units = static_cast<double>(rec.units),
                       .value = static_cast<double>(rec.similarity), .cells = {}};
  });
  if (request) {
    result.pages = write_report(*request, options.definition, stretch, scoring, table);
  }
  return result;
}

}  // namespace rivulon::batch
