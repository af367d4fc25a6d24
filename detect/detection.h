// What every detector takes and what it gives back besides its record table.
//
// Positions and lengths in the sequence are int32_t (a sequence holds fewer
// than 2^31 bases); a position computed from them that may pass the end (a
// copy m motif lengths on, a run's reach) is formed in int64_t.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "align/copy_alignment.h"
#include "align/pattern_alignment.h"
#include "align/sequence.h"
#include "rivulon/executor.h"
#include "stats/significance.h"

namespace rivulon {

// Definition 3's candidate starts of one motif length, in increasing order,
// each with its number of good windows (1 .. L). Short motifs let a third of
// the positions through, so the list is packed: the gap from the previous
// start in a variable-length code (7 bits a byte, one byte below 128), and
// the counts two bytes each, left out where a start has a single window
// (each count is then 1).
class CandidateStarts {
 public:
  // Where a walk over the list stands: the start `at` (index `index`),
  // decoded from the bytes before `byte`.
  struct Cursor {
    size_t byte = 0, index = 0;
    int64_t at = -1;
  };

  // Empties the list for starts with `windows` windows each.
  void clear(int32_t windows) {
    gaps_.clear();
    counts_.clear();
    single_ = windows == 1;
    size_ = 0;
    last_ = -1;
  }
  // Appends a start after every one listed, with its good windows.
  void push_back(int32_t at, int32_t good) {
    for (uint32_t gap = static_cast<uint32_t>(at - last_);; gap >>= 7) {
      if (gap < 128) {
        gaps_.push_back(static_cast<uint8_t>(gap));
        break;
      }
      gaps_.push_back(static_cast<uint8_t>(0x80 | (gap & 0x7f)));
    }
    if (!single_) counts_.push_back(static_cast<uint16_t>(good));  // at most 500
    last_ = at;
    ++size_;
  }
  size_t size() const { return size_; }

  // Moves `c` to the next start; false (and `c` unchanged) past the last.
  bool next(Cursor& c) const {
    if (c.byte == gaps_.size()) return false;
    uint32_t gap = 0;
    for (int shift = 0;; shift += 7) {
      const uint8_t b = gaps_[c.byte++];
      gap |= static_cast<uint32_t>(b & 0x7f) << shift;
      if (b < 0x80) break;
    }
    if (c.at >= 0) ++c.index;
    c.at += gap;
    return true;
  }
  // The good windows of the start under `c`.
  int32_t good(const Cursor& c) const { return single_ ? 1 : counts_[c.index]; }

 private:
  std::vector<uint8_t> gaps_;
  std::vector<uint16_t> counts_;
  bool single_ = false;
  size_t size_ = 0;
  int64_t last_ = -1;
};

// Definition 3's work space for one motif length at a time: the screening's
// candidates and ring, and the pattern alignments' rows, for motifs up to
// `longest`.
struct PatternWorker {
  explicit PatternWorker(int32_t max_motif) : longest(max_motif), workspace(max_motif) {}
  int32_t longest;
  CandidateStarts candidates;
  std::vector<uint16_t> ring;
  PatternWorkspace workspace;
};

// Definitions 1 and 2's work space for screening one motif length at a time.
struct CopyWorker {
  explicit CopyWorker(int32_t max_motif) : matrix(max_motif) {}
  AlignmentMatrix matrix;
  std::vector<uint16_t> ring;

  // Makes `worker`, or makes it again when it holds motifs shorter than M.
  static void fit(std::unique_ptr<CopyWorker>& worker, int32_t M) {
    if (!worker || worker->matrix.size < M) worker = std::make_unique<CopyWorker>(M);
  }
};

// What the detectors need besides their inputs, kept between calls on one
// thread so that a genome's many stretches do not allocate it again and
// again: grown, never shrunk. Every detector sets what it reads before it
// reads it, so a scratch left by any earlier call gives the same results as a
// new one.
struct DetectorScratch {
  std::vector<float> marks;  // definitions 1, 2: a value per position
  std::vector<uint16_t> ring;                             // definition 1: screening a length again
  std::vector<double> pairs;                              // definition 2
  std::unique_ptr<AlignmentMatrix> matrix;                // definitions 1, 2
  std::vector<std::unique_ptr<PatternWorker>> patterns;  // definition 3: those not at work
  std::vector<std::unique_ptr<CopyWorker>> copies;       // definitions 1, 2: those not at work

  // The copy alignments' matrix, for motifs up to M.
  AlignmentMatrix& matrix_for(int32_t M) {
    if (!matrix || matrix->size < M) matrix = std::make_unique<AlignmentMatrix>(M);
    return *matrix;
  }
};

struct DetectionInput {
  SequenceView sequence;
  Scoring scoring;
  double threshold;          // similarity level x 0.01 (definitions 1, 2) or minimum score (3)
  int32_t max_motif;         // M: motif lengths 1..M are examined; at most n / 2
  double match_probability;  // probability that two bases drawn at random are equal
  int32_t threads = 1;       // threads a detector may use; results never depend on it
  // When set, counts the motif lengths examined so far (for a progress
  // display on another thread); the detection only adds to it.
  std::atomic<int32_t>* lengths_done = nullptr;
  // When set, polled between motif lengths: once true, the detection ends
  // with a kCancelled failure.
  const std::atomic<bool>* cancel = nullptr;
  // The program's pool: when set, a detector that runs in parallel uses its
  // threads (and `threads` is not read); when not, it starts a pool of
  // `threads` for the call.
  Executor* executor = nullptr;
  // When set, the work space to use (and keep for the next call on this
  // thread); when not, the detection makes its own.
  DetectorScratch* scratch = nullptr;
};

inline bool cancelled(const DetectionInput& in) {
  return in.cancel != nullptr && in.cancel->load(std::memory_order_relaxed);
}

// Counts one more motif length as examined.
inline void note_length_done(const DetectionInput& in) {
  if (in.lengths_done != nullptr) in.lengths_done->fetch_add(1, std::memory_order_relaxed);
}

// Why a detection stopped without a table.
struct DetectionFailure {
  enum class Cause {
    kNoQuota,        // the significance model has no quota for a motif length
    kInternalCheck,  // definition 2's trimming found no stretch it had promised
    kCancelled,      // the caller asked to stop
  };
  Cause cause;
  int32_t motif_length;  // the motif length being examined
  int32_t window;        // kNoQuota: the window length without a quota
};

// A detector's result: its record table, or why there is none.
template <typename Table>
using Detection = std::variant<Table, DetectionFailure>;

// How each definition screens (see ScreeningRule).
inline constexpr ScreeningRule kDefinition1Screening{
    .fixed_level = 0, .window_cap = 20, .freeze_at = 0, .frozen_window = 0, .bad_run_factor = 3};
inline constexpr ScreeningRule kDefinition2Screening{
    .fixed_level = 0, .window_cap = 20, .freeze_at = 0, .frozen_window = 0, .bad_run_factor = 5};
// Definition 3 screens at a level of 0.7 per position whatever the minimum
// score; its window freezes at 33 once it would reach 100 / 3 (the double
// nearest, 33.333333333333336).
inline constexpr ScreeningRule kDefinition3Screening{.fixed_level = 0.7,
                                                     .window_cap = 0,
                                                     .freeze_at = 100.0 / 3,
                                                     .frozen_window = 33,
                                                     .bad_run_factor = 5};

// The frame of every detection: for L = 1, 2, ..., M in this order, the
// screening parameters of L from the significance model and one call of
// examine(L, parameters), which screens, groups and merges that motif length.
// Stops at the first motif length the model has no quota for, or whose
// examination returns a failure.
template <typename Examine>
std::optional<DetectionFailure> for_each_motif_length(const DetectionInput& in,
                                                      const ScreeningRule& rule, Examine examine) {
  const std::shared_ptr<const ScheduledParameters> schedule =
      window_schedule(rule, in.scoring, in.threshold, in.match_probability, in.max_motif);
  for (int32_t L = 1; L <= in.max_motif; ++L) {
    if (static_cast<size_t>(L) > schedule->lengths.size()) {
      return DetectionFailure{DetectionFailure::Cause::kNoQuota, L, schedule->missing_window};
    }
    if (cancelled(in)) return DetectionFailure{DetectionFailure::Cause::kCancelled, L, 0};
    if (std::optional<DetectionFailure> failure = examine(L, schedule->lengths[static_cast<size_t>(L) - 1])) {
      return failure;
    }
  }
  return std::nullopt;
}

}  // namespace rivulon
