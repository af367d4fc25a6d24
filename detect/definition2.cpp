#include "detect/definition2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "detect/marks.h"
#include "detect/merge.h"
#include "detect/window_filter.h"
#include "driver/fatal.h"
#include "driver/messages.h"
#include "report/report_writer.h"

namespace rivulon {

namespace {

constexpr int32_t kFullAlignmentMax = 19;  // definition 2 aligns fully up to L = 19
constexpr int32_t kShortRepeat = 20;
constexpr int32_t kLongSequence = 100;
constexpr double kPairFloorBase = 0.37;
constexpr double kPairFloorScale = 0.6104999999999999;  // one step below 0.6105
constexpr float kMark = 1.0f;

double pair_similarity(const char* s, int32_t n, int64_t b, int32_t L, int32_t m,
                       AlignmentMatrix& matrix, int32_t gap, int32_t terminal_gap,
                       int32_t mismatch, int32_t match) {
  int32_t origin = 0;  // not looked at under definition 2
  return copy_similarity(s, n, b, L, m, origin, matrix, kFullAlignmentMax, gap, terminal_gap,
                         mismatch, match);
}

bool too_small(int64_t units, int32_t L, int32_t n) {
  return units * L < kShortRepeat && n >= kLongSequence;
}

}  // namespace

void screen_copies_avg(int32_t L, int32_t w, int32_t k0, int32_t quota, int32_t allowance,
                       const char* s, int32_t n, float* marks, AlignmentMatrix& matrix, double t,
                       int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       int32_t M, std::vector<uint16_t>& ring) {
  int64_t last_mark = -int64_t{M};
  scan_windows<true, true>(s, n, L, w, k0, copy_max_drift(L), ring, [&](int64_t p, WindowState f) {
    // The table holds only this motif length's marks over the range screened
    // (the filter itself never reads it).
    marks[p] = 0.0f;
    const int64_t q = p - f.slots + 1;
    if (!(f.good >= quota && q >= 0 && f.longest <= allowance)) return false;
    // One alignment starts a stretch; close followers are marked directly.
    if (p - last_mark > L) {
      if (pair_similarity(s, n, q - 1, L, 1, matrix, gap, terminal_gap, mismatch, match) >= t) {
        marks[q] = kMark;
        last_mark = p;
      }
    } else {
      marks[q] = kMark;
      last_mark = p;
    }
    return true;
  }, [&](int64_t p, int64_t count) { std::fill(marks + p, marks + p + count, 0.0f); });
}

int32_t group_around_best_pair(const float* marks, CandidateList& candidates, const char* s,
                               int32_t n, int32_t L, AlignmentMatrix& matrix, int32_t gap,
                               int32_t terminal_gap, int32_t mismatch, int32_t match, double t,
                               std::vector<double>& pairs) {
  const int64_t limit = int64_t{n} - 2 * int64_t{L} + 1;
  const double pair_floor = kPairFloorBase + kPairFloorScale / std::sqrt(static_cast<double>(L));
  const size_t needed = static_cast<size_t>(n / L) + 1;
  if (pairs.size() < needed) pairs.resize(needed);
  std::fill(pairs.begin(), pairs.begin() + static_cast<long>(needed), 0.0);
  auto similarity = [&](int64_t first, int32_t distance) {
    return pair_similarity(s, n, first - 1, L, distance, matrix, gap, terminal_gap, mismatch, match);
  };
  int32_t added = 0;

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
        if (!(similarity(copy_start(k), core - k) >= pair_floor)) break;
        left = k;
      }
    }
    if (core < count - 1 && pairs[static_cast<size_t>(core + 1)] >= pair_floor) {
      right = core + 1;
      for (int32_t k = core + 2; k <= count - 1; ++k) {
        if (!(similarity(copy_start(core), k - core) >= pair_floor)) break;
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
      ++added;
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
    if (kept == 0 || sum / kept < t) {
      show_parameter_error(stdout, kMsgBugCheck);
      fatal(kExitInternalCheck);
    }
    const int32_t units = kept + 1;
    if (too_small(units, L, n)) continue;
    candidates.push_back({static_cast<int32_t>(copy_start(first)), units, static_cast<float>(sum / kept)});
    ++added;
  }
  return added;
}

int detect_definition2(int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       double t, int32_t M, const std::string& sequence_file,
                       const std::optional<std::string>& coding_file, const char* s, int32_t n,
                       SignificanceTables& tables, double p, int alignments, int text_report) {
  std::vector<float> marks(static_cast<size_t>(n), 0.0f);
  RecordTable records(n);
  AlignmentMatrix matrix(M);
  CandidateList candidates;
  std::vector<uint16_t> ring;
  std::vector<double> pairs;
  WindowSchedule schedule(2, match, mismatch, gap, t, p, tables);
  for (int32_t L = 1; L <= M; ++L) {
    const WindowParameters wp = schedule.at(L);
    screen_copies_avg(L, wp.w, wp.k0, wp.quota, wp.allowance, s, n, marks.data(), matrix, t, gap,
                      terminal_gap, mismatch, match, M, ring);
    group_around_best_pair(marks.data(), candidates, s, n, L, matrix, gap, terminal_gap, mismatch,
                           match, t, pairs);
    merge_candidates(candidates, records, n, L, kDefinition2Merge);
    candidates.clear();
  }
  write_report(2, s, n, records, M, coding_file, sequence_file, text_report, alignments,
                    matrix, gap, terminal_gap, mismatch, match, t);
  return 0;
}

}  // namespace rivulon
