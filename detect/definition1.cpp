#include "detect/definition1.h"

#include <algorithm>
#include <cmath>

#include "detect/marks.h"
#include "detect/merge.h"
#include "detect/window_filter.h"

namespace rivulon {

namespace {

constexpr int32_t kShortRun = 20;          // runs and repeats below 20 bases are dropped ...
constexpr int32_t kLongSequence = 100;     // ... in sequences of 100 bases or more

void zero_range(float* similarity, int32_t n, int64_t from, int64_t to) {
  to = std::min<int64_t>(to, int64_t{n} - 1);
  for (int64_t x = from; x <= to; ++x) similarity[x] = 0.0f;
}

}  // namespace

void screen_copies(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                   float* similarity, AlignmentMatrix& matrix, std::vector<uint16_t>& ring) {
  const char* s = in.sequence.bases;
  const int32_t n = in.sequence.n;
  const float tf = static_cast<float>(in.threshold);
  int32_t cooldown = 0;  // 0 when alignments are allowed
  scan_windows<false, false>(in.sequence, L, wp.w, wp.k0, copy_max_drift(L), ring, [&](int64_t p, WindowState f) {
    // The copy under test covers windows q..p.
    const int64_t q = p - f.slots + 1;
    const bool qualifies = f.good >= wp.quota && q >= 0 && f.longest <= wp.allowance &&
                           (same_base(s, n, q, q + L) || (q >= L && similarity[q - L] > 0));
    if (qualifies && cooldown == 0) {
      const CopySimilarity pair =
          copy_similarity(in.sequence, q - 1, L, 1, kFullScoringUpToDefinition1, in.scoring, matrix);
      if (pair.similarity >= tf && pair.origin == 0) {
        similarity[q] = static_cast<float>(pair.similarity);
        cooldown = (L == 1) ? 0 : 1;
        return true;
      }
    } else if (cooldown > 0) {
      // An accepted copy at q keeps the copies q+1 .. q+L-1 from being aligned.
      if (++cooldown >= L) cooldown = 0;
    }
    return false;
  }, [&](int64_t, int64_t count) {
    // Windows without any good window in the ring: no copy qualifies.
    if (cooldown > 0) cooldown = (cooldown + count >= L) ? 0 : cooldown + static_cast<int32_t>(count);
  });
}

double score_new_copy(const DetectionInput& in, int32_t start, int32_t u, int32_t L,
                      AlignmentMatrix& matrix) {
  double sum = 0.0;
  for (int32_t c = u - 1; c >= 0; --c) {
    sum += copy_similarity(in.sequence, int64_t{start} + int64_t{c} * L - 1, L, u - c,
                           kFullScoringUpToDefinition1, in.scoring, matrix)
               .similarity;
  }
  return sum;
}

void group_copies(const DetectionInput& in, int32_t L, float* similarity,
                  CandidateList& candidates, AlignmentMatrix& matrix) {
  const int32_t n = in.sequence.n;
  const int64_t limit = int64_t{n} - 2 * int64_t{L} + 1;
  const int32_t allowance = run_gap_allowance(L);
  const double floor_level = 0.4 + 0.5 / std::sqrt(static_cast<double>(L));

  int64_t i = 0;
  while (i < limit) {
    i = next_positive(similarity, i, limit);
    if (i >= limit) break;
    // The run: marks at most L + allowance apart.
    const int64_t start = i;
    int64_t last = i, x = start;
    for (; x < n && x <= last + L + allowance; ++x) {
      if (similarity[x] > 0) last = x;
    }
    const int64_t scan_end = x;
    if (scan_end - start + L < kShortRun && n >= kLongSequence) {
      zero_range(similarity, n, start, scan_end);
      i = scan_end + 1;
      continue;
    }

    candidates.push_back({static_cast<int32_t>(start), 2, similarity[start]});
    similarity[start] = 0.0f;
    int64_t pairs = 1;  // units * (units - 1) / 2
    int64_t cur = start + L;  // start of the candidate's last copy
    bool failed = false;
    while (cur <= last) {
      CandidateRepeat& k = candidates.back();
      double sum = score_new_copy(in, k.start, k.units, L, matrix);
      double average = (sum + static_cast<double>(pairs) * static_cast<double>(k.similarity)) /
                       static_cast<double>(k.units + pairs);
      if (average < floor_level) {
        if (cur - start - L < kShortRun && n > kLongSequence) candidates.pop_back();
        zero_range(similarity, n, cur, cur + L - 1);
        i = cur + L + 1;
        failed = true;
        break;
      }
      k.similarity = static_cast<float>(average);
      pairs += k.units;
      k.units += 1;
      zero_range(similarity, n, cur, cur + L - 1);
      cur += L;
    }
    if (!failed) i = scan_end + 1;
  }
}

Detection<RecordTable> detect_definition1(const DetectionInput& in) {
  const int32_t n = in.sequence.n, M = in.max_motif;
  std::vector<float> similarity(static_cast<size_t>(n), 0.0f);
  RecordTable records(n);
  AlignmentMatrix matrix(M);
  CandidateList candidates;
  std::vector<uint16_t> ring;
  const std::optional<DetectionFailure> failure = for_each_motif_length(
      in, kDefinition1Screening, [&](int32_t L, const WindowParameters& wp) {
        screen_copies(in, L, wp, similarity.data(), matrix, ring);
        group_copies(in, L, similarity.data(), candidates, matrix);
        merge_found(candidates, records, n, L, kDefinition1Merge);
        candidates.clear();
        return std::optional<DetectionFailure>();
      });
  if (failure) return *failure;
  return records;
}

}  // namespace rivulon
