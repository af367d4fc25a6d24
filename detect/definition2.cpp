#include "detect/definition2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "detect/merge.h"
#include "driver/fatal.h"
#include "driver/messages.h"
#include "driver/sequence.h"
#include "report/report_writer.h"

namespace rivulon {

namespace {

constexpr int32_t kFullAlignmentBelow = 20;  // definition 2 aligns fully up to L = 19
constexpr int32_t kShortRepeat = 20;
constexpr int32_t kLongSequence = 100;
constexpr double kPairFloorBase = 0.37;
constexpr double kPairFloorScale = 0.6104999999999999;  // one step below 0.6105
constexpr float kMark = 1.0f;

int32_t count_matches(const char* s, int32_t n, int64_t p, int32_t w, int64_t distance) {
  int32_t c = 0;
  for (int32_t x = 0; x < w; ++x) c += same_base(s, n, p + x, p + x + distance);
  return c;
}

double pair_similarity(const char* s, int32_t n, int64_t b, int32_t L, int32_t m,
                       AlignmentMatrix& matrix, int32_t gap, int32_t terminal_gap,
                       int32_t mismatch, int32_t match) {
  int32_t origin = 0;
  if (L < kFullAlignmentBelow) {
    return align_copies(s, n, b, L, m, origin, matrix, gap, terminal_gap, mismatch, match);
  }
  return align_copies_banded(s, n, b, L, m, origin, matrix, copy_band_half_width(L), gap,
                             terminal_gap, mismatch, match);
}

bool too_small(int64_t units, int32_t L, int32_t n) {
  return units * L < kShortRepeat && n >= kLongSequence;
}

}  // namespace

void screen_copies_avg(int32_t L, int32_t w, int32_t k0, int32_t quota, int32_t allowance,
                       const char* s, int32_t n, float* marks, AlignmentMatrix& matrix, double t,
                       int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       int32_t M, ScreenScratch& scratch) {
  const int32_t nw = L - w + 1;
  const int32_t max_drift = copy_max_drift(L);
  scratch.ring.assign(static_cast<size_t>(nw), 0);
  uint8_t* ring = scratch.ring.data();

  int32_t drift = 0, good = 0, run = 0, longest = 0, longest_slot = 0;
  int64_t last_mark = -int64_t{M};
  int32_t c0 = 0, c1 = 0, c2 = 0;
  int32_t r = 0;
  for (int64_t p = 0; p < int64_t{n} - (w + L - 1) - drift; ++p, r = (r + 1 == nw) ? 0 : r + 1) {
    marks[p] = 0.0f;
    if (r == longest_slot) longest = 0;

    if (p == 0) {
      c0 = count_matches(s, n, 0, w, L);
      c1 = count_matches(s, n, 0, w, L + 1);
      c2 = 0;
    } else {
      const int64_t in = p + w - 1, out = p - 1, d = L + drift;
      c0 += same_base(s, n, in, in + d) - same_base(s, n, out, out + d);
      c1 += same_base(s, n, in, in + d + 1) - same_base(s, n, out, out + d + 1);
      if (drift > 0) c2 += same_base(s, n, in, in + d - 1) - same_base(s, n, out, out + d - 1);
    }

    if (ring[r]) {
      ring[r] = 0;
      --good;
    }

    bool is_good = true;
    if (c0 >= k0) {
    } else if (c1 >= k0 && drift < max_drift && (good > 0 || nw == 1)) {
      ++drift;
      c2 = c0;
      c0 = c1;
      c1 = count_matches(s, n, p, w, L + drift + 1);
    } else if (drift > 0 && c2 >= k0) {
      --drift;
      c1 = c0;
      c0 = c2;
      c2 = drift > 0 ? count_matches(s, n, p, w, L + drift - 1) : 0;
    } else {
      is_good = false;
      ++run;
      if (run > longest) {
        longest = run;
        if (run < nw) longest_slot = r;
      }
    }
    if (is_good) {
      ring[r] = 1;
      ++good;
      run = 0;
    }

    const int64_t q = p - nw + 1;
    if (good >= quota && q >= 0 && longest <= allowance) {
      if (p - last_mark > L) {
        double sim = pair_similarity(s, n, q - 1, L, 1, matrix, gap, terminal_gap, mismatch, match);
        if (sim >= t) {
          marks[q] = kMark;
          last_mark = p;
        }
      } else {
        marks[q] = kMark;
        last_mark = p;
      }
      if (drift > 0) {
        drift = 0;
        c0 = count_matches(s, n, p, w, L);
        c1 = count_matches(s, n, p, w, L + 1);
        c2 = 0;
        run = 0;
      }
    }
  }
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
    if (marks[i] != kMark) {
      ++i;
      continue;
    }
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
  ScreenScratch scratch;
  std::vector<double> pairs;
  WindowSchedule schedule(2, match, mismatch, gap, t, p, tables);
  for (int32_t L = 1; L <= M; ++L) {
    const WindowParameters wp = schedule.at(L);
    screen_copies_avg(L, wp.w, wp.k0, wp.quota, wp.allowance, s, n, marks.data(), matrix, t, gap,
                      terminal_gap, mismatch, match, M, scratch);
    group_around_best_pair(marks.data(), candidates, s, n, L, matrix, gap, terminal_gap, mismatch,
                           match, t, pairs);
    merge_candidates(candidates, records, n, L, kDefinition2Merge);
    candidates.clear();
  }
  write_copy_report(2, s, n, records, M, coding_file, sequence_file, text_report, alignments,
                    matrix, gap, terminal_gap, mismatch, match, t);
  return 0;
}

}  // namespace rivulon
