#include "rivulon/rivulon.h"

#include <algorithm>
#include <limits>

#include "detect/definition1.h"
#include "detect/definition2.h"
#include "detect/definition3.h"
#include "report/cells.h"
#include "stats/composition.h"

#ifndef RIVULON_VERSION
#define RIVULON_VERSION "0"
#endif

namespace rivulon {

namespace {

constexpr int64_t kMaxParameter = 1000000;
constexpr int64_t kLongestStretch = std::numeric_limits<int32_t>::max() - 1;

// "" when lo <= value <= hi; otherwise the message a command line would give.
std::string out_of_range(const char* option, int64_t value, int64_t lo, int64_t hi) {
  if (value >= lo && value <= hi) return "";
  return std::string(option) + " must be a whole number from " + std::to_string(lo) + " to " +
         std::to_string(hi) + " (got '" + std::to_string(value) + "')";
}

// The listed records of a table as repeats, in the text report's order;
// `row` gives positions in the stretch of n bases.
template <typename Table, typename Row>
std::vector<Repeat> listed_repeats(const Table& table, int32_t n, int32_t definition, Row row) {
  std::vector<Repeat> repeats;
  for_each_listed(table, [&](const auto& rec, int64_t i) {
    Repeat r = row(rec, static_cast<int32_t>(i));
    r.end = std::min<int64_t>(r.end, n);
    r.definition = definition;
    const RepeatCells cells = format_cells(rec);
    r.units_text = cells.units;
    r.value_text = cells.score;
    repeats.push_back(std::move(r));
  });
  return repeats;
}

Failure failure_of(const DetectionFailure& f) {
  switch (f.cause) {
    case DetectionFailure::Cause::kNoQuota:
      return {Failure::Cause::kNoQuota, f.motif_length, f.window,
              "the significance model has no quota for motif length " + std::to_string(f.motif_length)};
    case DetectionFailure::Cause::kInternalCheck:
      return {Failure::Cause::kInternalCheck, f.motif_length, 0,
              "an internal check failed at motif length " + std::to_string(f.motif_length)};
    case DetectionFailure::Cause::kCancelled:
      break;
  }
  return {Failure::Cause::kCancelled, f.motif_length, 0, "cancelled"};
}

}  // namespace

const std::vector<Parameter>& parameters() {
  static const std::vector<Parameter> table = {
      {"--match", "N", &Options::match, 0, kMaxParameter, false, "match score, 0..1000000"},
      {"--mismatch", "N", &Options::mismatch, 0, kMaxParameter, false,
       "mismatch penalty, 0..1000000; 0 is about 1,000 times slower"},
      {"--gap", "N", &Options::gap, 0, kMaxParameter, false, "gap penalty, 0..1000000"},
      {"--terminal-gap", "N", &Options::terminal_gap, 0, kMaxParameter, false, "terminal gap penalty, 0..1000000"},
      {"--max-motif", "N", &Options::max_motif, 1, 500, false, "longest motif, 1..500"},
      {"--definition", "D", &Options::definition, 1, 3, false,
       "1 similarity of adjacent copies, 2 average similarity,\n3 score against a repeating pattern"},
      {"--level", "N", &Options::level, 50, 100, true,
       "definitions 1, 2: minimum similarity level, 50 to 100 x match\n(50 to 200 with match 2)"},
      {"--min-score", "N", &Options::min_score, 30, 150, false, "definition 3: minimum score, 30..150"},
  };
  return table;
}

const Parameter* parameter(std::string_view option) {
  for (const Parameter& p : parameters()) {
    if (option == p.option) return &p;
  }
  return nullptr;
}

std::string Options::validate() const {
  for (const Parameter& p : parameters()) {
    if (p.hi_times_match || (p.field == &Options::min_score && definition != 3)) continue;
    if (std::string problem = out_of_range(p.option, this->*p.field, p.lo, p.hi); !problem.empty()) return problem;
  }
  if (definition == 3) return "";
  if (match < 1 && level >= 50) {
    return "--match " + std::to_string(match) + " allows no level from 50 to 100 x match; give a match score of 1 or more";
  }
  if (level < 50 || level > int64_t{100} * match) {
    return "--level must be a whole number from 50 to 100 x match = " + std::to_string(int64_t{100} * match) +
           " (got '" + std::to_string(level) + "')";
  }
  return "";
}

struct Workspace::State {
  std::string bases;        // the stretch, then the NUL the detectors read after it
  DetectorScratch scratch;  // the detectors' marks, matrices and pattern work spaces
};

Workspace::Workspace() : state_(std::make_unique<State>()) {}
Workspace::~Workspace() = default;

int32_t motif_lengths_examined(const Options& options, int64_t n) {
  return static_cast<int32_t>(std::clamp<int64_t>(n / 2, 0, options.max_motif));
}

Result find_repeats(std::string_view bases, const Options& options, Workspace& workspace,
                    const RunControl& control) {
  if (std::string problem = options.validate(); !problem.empty()) {
    return Failure{Failure::Cause::kInvalidOptions, 0, 0, std::move(problem)};
  }
  if (static_cast<int64_t>(bases.size()) > kLongestStretch) {
    return Failure{Failure::Cause::kTooLong, 0, 0, "a stretch is longer than 2147483646 bases"};
  }
  // The detectors read one byte past the last base: a copy of the slice ends
  // with a NUL, so that what follows the slice in the caller's buffer never counts.
  std::string& copy = workspace.state_->bases;
  copy.assign(bases.data(), bases.size());
  const SequenceView seq{copy.c_str(), static_cast<int32_t>(bases.size())};
  const Scoring scoring =
      scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
  const double threshold = options.definition == 3 ? options.min_score : options.level * 0.01;
  DetectionInput in{seq, scoring, threshold, motif_lengths_examined(options, seq.n),
                    match_probability(count_bases(seq), seq.n), std::max(1, control.threads),
                    control.lengths_done};
  in.cancel = control.cancel;
  in.executor = control.executor;
  in.scratch = &workspace.state_->scratch;
  if (options.definition == 3) {
    Detection<PatternRepeatTable> found = detect_definition3(in);
    if (const auto* f = std::get_if<DetectionFailure>(&found)) return failure_of(*f);
    return listed_repeats(std::get<PatternRepeatTable>(found), seq.n, 3,
                          [](const PatternRepeatRecord& rec, int32_t i) {
                            // The drawing's length of the repeat: L x units, the fraction cut.
                            const int64_t span = static_cast<int32_t>(rec.motif_length * rec.units);
                            Repeat r;
                            r.start = i;
                            r.end = i + span;
                            r.motif_start = rec.pattern_start;
                            r.motif_length = rec.motif_length;
                            r.units = rec.units;
                            r.value = rec.score;
                            return r;
                          });
  }
  Detection<RecordTable> found = options.definition == 1 ? detect_definition1(in) : detect_definition2(in);
  if (const auto* f = std::get_if<DetectionFailure>(&found)) return failure_of(*f);
  return listed_repeats(std::get<RecordTable>(found), seq.n, options.definition,
                        [](const RepeatRecord& rec, int32_t i) {
                          Repeat r;
                          r.start = i;
                          r.end = i + int64_t{rec.motif_length} * rec.units;
                          r.motif_start = i;
                          r.motif_length = rec.motif_length;
                          r.units = static_cast<double>(rec.units);
                          r.value = static_cast<double>(rec.similarity);
                          return r;
                        });
}

const char* version() { return RIVULON_VERSION; }

}  // namespace rivulon
