#include "detect/definition1.h"

#include <algorithm>
#include <cmath>

#include "detect/lengths_in_parallel.h"
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

// The screening of one motif length. `marked(x)` says whether position x
// holds a positive similarity; accept(q, similarity) takes each accepted
// copy; unsure(q) hears of each copy that the filter passed and that only a
// positive similarity at q - L would have sent to alignment.
template <typename Marked, typename Accept, typename Unsure>
void screen_copies_with(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                        AlignmentMatrix& matrix, std::vector<uint16_t>& ring, Marked marked,
                        Accept accept, Unsure unsure) {
  const char* s = in.sequence.bases;
  const int32_t n = in.sequence.n;
  const float tf = static_cast<float>(in.threshold);
  int32_t cooldown = 0;  // 0 when alignments are allowed
  scan_windows<false, false>(in.sequence, L, wp.w, wp.k0, copy_max_drift(L), ring, [&](int64_t p, WindowState f) {
    if (cooldown > 0) {
      // An accepted copy at q keeps the copies q+1 .. q+L-1 from being aligned.
      if (++cooldown >= L) cooldown = 0;
      return false;
    }
    // The copy under test covers windows q..p.
    const int64_t q = p - f.slots + 1;
    if (!(f.good >= wp.quota && q >= 0 && f.longest <= wp.allowance)) return false;
    if (!same_base(s, n, q, q + L)) {
      if (q < L) return false;
      if (!marked(q - L)) {
        unsure(q);
        return false;
      }
    }
    // Most copies do not reach the level: a fill without origins, which may
    // stop early, tells; the origin is asked only of those that do.
    if (copy_score_at_least(in.sequence, q - 1, L, 1, kFullScoringUpToDefinition1, in.scoring, matrix, tf) < tf) {
      return false;
    }
    const CopySimilarity pair =
        copy_similarity(in.sequence, q - 1, L, 1, kFullScoringUpToDefinition1, in.scoring, matrix);
    if (pair.origin == 0) {
      accept(q, static_cast<float>(pair.similarity));
      cooldown = (L == 1) ? 0 : 1;
      return true;
    }
    return false;
  }, [&](int64_t, int64_t count) {
    // Windows without any good window in the ring: no copy qualifies.
    if (cooldown > 0) cooldown = (cooldown + count >= L) ? 0 : cooldown + static_cast<int32_t>(count);
  });
}

}  // namespace

void screen_copies(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                   float* similarity, AlignmentMatrix& matrix, std::vector<uint16_t>& ring) {
  screen_copies_with(
      in, L, wp, matrix, ring, [similarity](int64_t x) { return similarity[x] > 0; },
      [similarity](int64_t q, float value) { similarity[q] = value; }, [](int64_t) {});
}

void screen_copies_alone(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                         ScreenedMarks& out, AlignmentMatrix& matrix, std::vector<uint16_t>& ring) {
  out.clear();
  // This length's own accepted copies, in increasing order, stand for the table.
  auto marked = [&out](int64_t x) {
    const auto it = std::lower_bound(out.at.begin(), out.at.end(), x);
    return it != out.at.end() && *it == x && out.value[static_cast<size_t>(it - out.at.begin())] > 0;
  };
  auto accept = [&out](int64_t q, float value) {
    out.at.push_back(static_cast<int32_t>(q));
    out.value.push_back(value);
  };
  auto unsure = [&out](int64_t q) { out.unsure.push_back(static_cast<int32_t>(q)); };
  screen_copies_with(in, L, wp, matrix, ring, marked, accept, unsure);
}

bool put_screened(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                  const ScreenedMarks& screened, float* similarity, AlignmentMatrix& matrix,
                  std::vector<uint16_t>& ring) {
  // Marks that earlier lengths left in the table count only where a copy
  // was left unsure; where one does, the screening is run again on the table.
  for (const int32_t q : screened.unsure) {
    if (similarity[q - L] > 0) {
      screen_copies(in, L, wp, similarity, matrix, ring);
      return true;
    }
  }
  for (size_t i = 0; i < screened.at.size(); ++i) similarity[screened.at[i]] = screened.value[i];
  return false;
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

namespace {

// The exponent of x's lowest set bit: x is an odd multiple of 2^e.
int lowest_bit_exponent(double x) {
  int exponent = 0;
  const double fraction = std::frexp(x, &exponent);  // x = fraction * 2^exponent, |fraction| in [0.5, 1)
  auto mantissa = static_cast<int64_t>(std::ldexp(std::fabs(fraction), 53));
  int e = exponent - 53;
  while ((mantissa & 1) == 0) {
    mantissa >>= 1;
    ++e;
  }
  return e;
}

}  // namespace

double add_repeatedly(double s, double v, int64_t k) {
  constexpr int64_t kExactLimit = int64_t{1} << 53;
  if (k > 0 && v != 0 && std::isfinite(s) && std::isfinite(v)) {
    // In units of 2^e, the lowest bit of both, s and v are whole numbers t and
    // m; while |t + i m| < 2^53 every partial sum is exact, so the k rounded
    // additions give exactly t + k m.
    const int e =
        s == 0 ? lowest_bit_exponent(v) : std::min(lowest_bit_exponent(s), lowest_bit_exponent(v));
    const double t = std::ldexp(s, -e), m = std::ldexp(v, -e);
    if (std::fabs(t) < kExactLimit && std::fabs(m) < kExactLimit) {
      const auto ti = static_cast<int64_t>(t), mi = static_cast<int64_t>(m);
      int64_t steps = 0, total = 0;
      if (!__builtin_mul_overflow(mi, k, &steps) && !__builtin_add_overflow(ti, steps, &total) &&
          total < kExactLimit && total > -kExactLimit) {
        return std::ldexp(static_cast<double>(total), e);
      }
    }
  }
  for (int64_t i = 0; i < k; ++i) s += v;
  return s;
}

void CopyPairMemo::reset(int64_t start, int32_t L) {
  start_ = start;
  L_ = L;
  copies_ = 0;
  runs_.clear();
  contents_.clear();
  pairs_.clear();
}

int32_t CopyPairMemo::content_of(const DetectionInput& in, int32_t copy) {
  int32_t content = runs_.empty() ? -1 : runs_.back().first;
  while (copies_ <= copy) {
    const int64_t first = start_ + int64_t{copies_} * L_;
    if (first + L_ > in.sequence.n) {
      content = copies_;  // runs past the end: a content of its own
    } else {
      const std::string_view bytes(in.sequence.bases + first, static_cast<size_t>(L_));
      content = contents_.emplace(bytes, copies_).first->second;
    }
    if (!runs_.empty() && runs_.back().first == content) {
      ++runs_.back().second;
    } else {
      runs_.emplace_back(content, 1);
    }
    ++copies_;
  }
  return content;
}

double CopyPairMemo::score_new_copy(const DetectionInput& in, int32_t u, AlignmentMatrix& matrix) {
  // Copies are given ids in order, and u is always the newest copy.
  const uint64_t newest = static_cast<uint32_t>(content_of(in, u));
  double sum = 0.0;
  int32_t c = u - 1;  // the copy to add next; runs are walked from the newest copy down
  int32_t skip = 1;   // copy u itself closes the last run
  for (auto run = runs_.rbegin(); run != runs_.rend() && c >= 0; ++run) {
    const int32_t count = run->second - skip;
    skip = 0;
    if (count <= 0) continue;
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(run->first)) << 32) | newest;
    auto [it, fresh] = pairs_.try_emplace(key, 0.0);
    if (fresh) {
      it->second = copy_similarity(in.sequence, start_ + int64_t{c} * L_ - 1, L_, u - c,
                                   kFullScoringUpToDefinition1, in.scoring, matrix)
                       .similarity;
    }
    sum = add_repeatedly(sum, it->second, count);
    c -= count;
  }
  return sum;
}

void group_copies(const DetectionInput& in, int32_t L, float* similarity,
                  CandidateList& candidates, AlignmentMatrix& matrix, CopyPairMemo& memo) {
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
    memo.reset(start, L);
    int64_t pairs = 1;  // units * (units - 1) / 2
    int64_t cur = start + L;  // start of the candidate's last copy
    bool failed = false;
    while (cur <= last) {
      CandidateRepeat& k = candidates.back();
      double sum = memo.score_new_copy(in, k.units, matrix);
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
  DetectorScratch own;
  DetectorScratch& scratch = in.scratch != nullptr ? *in.scratch : own;
  std::vector<float>& similarity = scratch.marks;
  similarity.assign(static_cast<size_t>(n), 0.0f);
  RecordTable records(n);
  AlignmentMatrix& matrix = scratch.matrix_for(M);
  CandidateList candidates;
  CopyPairMemo memo;
  // A length's screening reads the table only where the sequence alone
  // leaves a copy unsure: lengths are screened on several threads without
  // it, and their marks checked, grouped and merged in increasing length here.
  auto prepare = [M](std::unique_ptr<CopyWorker>& worker) { CopyWorker::fit(worker, M); };
  auto screen = [&](CopyWorker& worker, int32_t L, const WindowParameters& wp, ScreenedMarks& out) {
    screen_copies_alone(in, L, wp, out, worker.matrix, worker.ring);
  };
  auto take_up = [&](int32_t L, const WindowParameters& wp, ScreenedMarks& screened) {
    put_screened(in, L, wp, screened, similarity.data(), matrix, scratch.ring);
    group_copies(in, L, similarity.data(), candidates, matrix, memo);
    merge_found(candidates, records, n, L, kDefinition1Merge);
    candidates.clear();
    return std::optional<DetectionFailure>();
  };
  const std::optional<DetectionFailure> failure = search_lengths<CopyWorker, ScreenedMarks>(
      in, kDefinition1Screening, scratch.copies, prepare, screen, take_up);
  if (failure) return *failure;
  return records;
}

}  // namespace rivulon
