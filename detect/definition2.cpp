#include "detect/definition2.h"

#include <algorithm>
#include <cmath>

#include "detect/lengths_in_parallel.h"
#include "detect/marks.h"
#include "detect/merge.h"
#include "detect/window_filter.h"

namespace rivulon {

namespace {

constexpr int32_t kShortRepeat = 20;
constexpr int32_t kLongSequence = 100;
constexpr double kPairFloorBase = 0.37;
// One ulp below 0.6105 (which is 0x1.389374bc6a7f0p-1). Pair similarities
// that land on the floor 0.37 + scale / sqrt(L) are decided by these bits.
constexpr double kPairFloorScale = 0x1.389374bc6a7efp-1;  // 0.6104999999999999
constexpr float kMark = 1.0f;

// The origin of the alignment is not looked at under definition 2.
double pair_similarity(const DetectionInput& in, int64_t b, int32_t L, int32_t m,
                       AlignmentMatrix& matrix) {
  return copy_similarity(in.sequence, b, L, m, kFullScoringUpToDefinition2, in.scoring, matrix)
      .similarity;
}

// Whether the pair's similarity reaches `at_least`; the fill may stop early.
bool pair_reaches(const DetectionInput& in, int64_t b, int32_t L, int32_t m, AlignmentMatrix& matrix,
                  double at_least) {
  return copy_score_at_least(in.sequence, b, L, m, kFullScoringUpToDefinition2, in.scoring, matrix,
                             at_least) >= at_least;
}

bool too_small(int64_t units, int32_t L, int32_t n) {
  return units * L < kShortRepeat && n >= kLongSequence;
}

}  // namespace

void screen_copies_avg(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                       ScreenedMarks& out, AlignmentMatrix& matrix, std::vector<uint16_t>& ring) {
  out.clear();
  int64_t last_mark = -int64_t{in.max_motif};
  scan_windows<true, true>(in.sequence, L, wp.w, wp.k0, copy_max_drift(L), ring, [&](int64_t p, WindowState f) {
    out.covered = p + 1;
    const int64_t q = p - f.slots + 1;
    if (!(f.good >= wp.quota && q >= 0 && f.longest <= wp.allowance)) return false;
    // One alignment starts a stretch; close followers are marked directly.
    if (p - last_mark > L) {
      if (pair_reaches(in, q - 1, L, 1, matrix, in.threshold)) {
        out.at.push_back(static_cast<int32_t>(q));
        last_mark = p;
      }
    } else {
      out.at.push_back(static_cast<int32_t>(q));
      last_mark = p;
    }
    return true;
  }, [&](int64_t p, int64_t count) { out.covered = p + count; });
}

void put_marks(const ScreenedMarks& screened, float* marks) {
  // The table holds only this motif length's marks over the range screened;
  // beyond it, what earlier lengths left.
  std::fill(marks, marks + screened.covered, 0.0f);
  for (const int32_t q : screened.at) marks[q] = kMark;
}

bool group_around_best_pair(const DetectionInput& in, int32_t L, const float* marks,
                            CandidateList& candidates, AlignmentMatrix& matrix,
                            std::vector<double>& pairs) {
  const int32_t n = in.sequence.n;
  const double t = in.threshold;
  const int64_t limit = int64_t{n} - 2 * int64_t{L} + 1;
  const double pair_floor = kPairFloorBase + kPairFloorScale / std::sqrt(static_cast<double>(L));
  auto similarity = [&](int64_t first, int32_t distance) {
    return pair_similarity(in, first - 1, L, distance, matrix);
  };

  int64_t i = 0;
  while (i < limit) {
    i = next_positive(marks, i, limit);  // marks are 1.0, everything else 0
    if (i >= limit) break;
    const int64_t start = i;
    int64_t last = i;
    for (int64_t x = start; x <= last + L && x < n; ++x) {
      if (marks[x] == kMark) last = x;
    }
    i = last + L + 1;  // where the walk goes on, whatever becomes of this run

    // Similarity of every adjacent pair of the run; the first of equal maxima is the core.
    int32_t count = 0, core = 0;
    double best = 0.0;
    for (int64_t o = start; o <= last && o + L < int64_t{n} - L; o += L) {
      if (pairs.size() <= static_cast<size_t>(count)) pairs.resize(static_cast<size_t>(count) + 1);
      pairs[static_cast<size_t>(count)] = similarity(o, 1);
      if (pairs[static_cast<size_t>(count)] > best) {
        best = pairs[static_cast<size_t>(count)];
        core = count;
      }
      ++count;
    }
    if (too_small(count + 1, L, n)) continue;
    if (count == 0 || best < t) continue;

    auto copy_start = [&](int64_t c) { return start + c * L; };
    int32_t left = core, right = core;
    if (core > 0 && pairs[static_cast<size_t>(core - 1)] >= pair_floor) {
      left = core - 1;
      for (int32_t k = core - 2; k >= 0; --k) {
        if (!pair_reaches(in, copy_start(k) - 1, L, core - k, matrix, pair_floor)) break;
        left = k;
      }
    }
    if (core < count - 1 && pairs[static_cast<size_t>(core + 1)] >= pair_floor) {
      right = core + 1;
      for (int32_t k = core + 2; k <= count - 1; ++k) {
        if (!pair_reaches(in, copy_start(core) - 1, L, k - core, matrix, pair_floor)) break;
        right = k;
      }
    }
    double sum_all = 0.0;
    for (int32_t k = left; k <= right; ++k) sum_all += pairs[static_cast<size_t>(k)];
    const double average = sum_all / (right - left + 1);
    if (average >= t) {
      const int32_t units = right - left + 2;
      if (too_small(units, L, n)) continue;
      candidates.push_back({static_cast<int32_t>(copy_start(left)), units, static_cast<float>(average)});
      continue;
    }

    // Trim around the core to the largest stretch whose pairs still average t.
    double sum = 0.0;
    int32_t kept = 0, first = core + 1;
    for (int32_t k = core; k >= left; --k) {
      if (!((sum + pairs[static_cast<size_t>(k)]) / (kept + 1) >= t)) break;
      sum += pairs[static_cast<size_t>(k)];
      ++kept;
      first = k;
    }
    for (int32_t k = core + 1; k <= right; ++k) {
      if (!((sum + pairs[static_cast<size_t>(k)]) / (kept + 1) >= t)) break;
      sum += pairs[static_cast<size_t>(k)];
      ++kept;
    }
    if (kept == 0 || sum / kept < t) return false;
    const int32_t units = kept + 1;
    if (too_small(units, L, n)) continue;
    candidates.push_back({static_cast<int32_t>(copy_start(first)), units, static_cast<float>(sum / kept)});
  }
  return true;
}

Detection<RecordTable> detect_definition2(const DetectionInput& in) {
  const int32_t n = in.sequence.n, M = in.max_motif;
  DetectorScratch own;
  DetectorScratch& scratch = in.scratch != nullptr ? *in.scratch : own;
  std::vector<float>& marks = scratch.marks;
  marks.assign(static_cast<size_t>(n), 0.0f);
  RecordTable records(n);
  AlignmentMatrix& matrix = scratch.matrix_for(M);
  CandidateList candidates;
  std::vector<double>& pairs = scratch.pairs;
  // A length's screening reads only the sequence: lengths are screened on
  // several threads, and grouped and merged in increasing length here.
  auto prepare = [M](std::unique_ptr<CopyWorker>& worker) { CopyWorker::fit(worker, M); };
  auto screen = [&](CopyWorker& worker, int32_t L, const WindowParameters& wp, ScreenedMarks& out) {
    screen_copies_avg(in, L, wp, out, worker.matrix, worker.ring);
  };
  auto take_up = [&](int32_t L, const WindowParameters& wp,
                     ScreenedMarks& screened) -> std::optional<DetectionFailure> {
    put_marks(screened, marks.data());
    if (!group_around_best_pair(in, L, marks.data(), candidates, matrix, pairs)) {
      return DetectionFailure{DetectionFailure::Cause::kInternalCheck, L, wp.w};
    }
    merge_found(candidates, records, n, L, kDefinition2Merge);
    candidates.clear();
    return std::nullopt;
  };
  const std::optional<DetectionFailure> failure = search_lengths<CopyWorker, ScreenedMarks>(
      in, kDefinition2Screening, scratch.copies, prepare, screen, take_up);
  if (failure) return *failure;
  return records;
}

}  // namespace rivulon
