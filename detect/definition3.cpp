#include "detect/definition3.h"

#include <algorithm>
#include <cmath>

#include "detect/marks.h"
#include "detect/window_filter.h"

namespace rivulon {

namespace {

constexpr double kMinimumCopies = 1.9;  // an accepted repeat spans at least 1.9 copies

int32_t pattern_max_drift(int32_t L) {
  int32_t d = static_cast<int32_t>(std::floor(2.3 * std::sqrt(0.03 * L)));
  return d == 0 ? 1 : d;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal prefixes of K bases at p < u; positions beyond the end never match.
bool same_prefix(const char* s, int32_t n, int64_t p, int64_t u, int32_t K) {
  for (int32_t j = 0; j < K; ++j) {
    if (!same_base(s, n, p + j, u + j)) return false;
  }
  return true;
}

struct PrefixGroup {
  int64_t first;  // the position that opened the group
  int32_t count;  // members
};

struct PassResult {
  enum Outcome { kAccepted, kQuickReject, kFinalReject } outcome;
  int64_t end;  // first position the gathering did not take
};

struct Scorer {
  const DetectionInput& in;
  const int32_t* candidates;
  int32_t L;
  PatternWorkspace& ws;
  std::vector<PrefixGroup>& groups;
  std::vector<char>& consensus;

  PassResult pass(int64_t t, int64_t reach, FoundList& found) {
    const char* s = in.sequence.bases;
    const int32_t n = in.sequence.n;
    const double threshold = in.threshold;
    const int32_t K = std::min(L, 3);
    int64_t last = t, u = t;
    int32_t top = 0;
    groups.clear();
    for (; u <= last + reach && u < n; ++u) {
      const int32_t c = candidates[u];
      if (c <= 0) continue;
      last = u;
      if (c > top && same_base(s, n, u, u + L)) {
        top = c;
        groups.assign(1, PrefixGroup{u, 1});
      } else if (c == top) {
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const PrefixGroup& g) { return same_prefix(s, n, g.first, u, K); });
        if (it != groups.end()) {
          ++it->count;
        } else {
          groups.push_back({u, 1});
        }
      }
    }
    const int64_t end = u;
    const int64_t H = end - t;
    if (static_cast<double>(H * in.scoring.match) < threshold) return {PassResult::kQuickReject, end};

    // Representative copy: the largest group, the later-created one on ties.
    int64_t P = t;
    int32_t largest = 0;
    for (const PrefixGroup& g : groups) {
      if (g.count >= largest) {
        largest = g.count;
        P = g.first;
      }
    }
    const int32_t rows = static_cast<int32_t>(H);
    PatternScore best =
        score_against_pattern(in.sequence, t - 1, rows, s + P, L, in.scoring, threshold, ws);
    if (!(best.score >= threshold && best.aligned_length >= 2 * L)) {
      build_consensus_pattern(s, t, last, P, L, consensus.data());
      const PatternScore second = score_against_pattern(in.sequence, t - 1, rows, consensus.data(),
                                                        L, in.scoring, threshold, ws);
      if (second.score >= best.score) best = second;
    }
    const double score = best.score;
    const int32_t length = best.aligned_length, first = best.first_row;
    if (score >= threshold && length >= kMinimumCopies * L) {
      found.push_back({static_cast<int32_t>(t + first), static_cast<int32_t>(P),
                       static_cast<double>(length) / L, score});
      return {PassResult::kAccepted, end};
    }
    return {PassResult::kFinalReject, end};
  }
};

}  // namespace

void screen_pattern_candidates(SequenceView seq, int32_t L, const WindowParameters& wp,
                               int32_t* candidates, std::vector<uint16_t>& ring) {
  std::fill(candidates, candidates + seq.n, 0);
  scan_windows<true, true>(seq, L, wp.w, wp.k0, pattern_max_drift(L), ring, [&](int64_t k, WindowState f) {
    if (!(f.good >= wp.quota && k >= f.slots - 1 && f.longest <= wp.allowance)) return false;
    candidates[k - f.slots + 1] = f.good;
    return true;
  }, [](int64_t, int64_t) {});
}

void build_consensus_pattern(const char* s, int64_t t, int64_t last, int64_t P, int32_t L,
                             char* out) {
  for (int32_t c = 0; c < L; ++c) {
    int32_t nA = 0, nC = 0, nG = 0, nT = 0;
    auto tally = [&](int64_t q) {
      switch (upper(s[q])) {
        case 'A': ++nA; break;
        case 'C': ++nC; break;
        case 'G': ++nG; break;
        case 'T': ++nT; break;
        default: break;
      }
    };
    for (int64_t q = P + c; q <= last; q += L) {
      if (q >= t) tally(q);
    }
    for (int64_t q = P + c - L; q >= t; q -= L) {
      if (q <= last) tally(q);
    }
    const char own = upper(s[P + c]);
    char pick = own;
    switch (own) {
      case 'A':
        if (!(nA >= nC && nA >= nG && nA >= nT)) {
          pick = nC >= nG ? (nC > nT ? 'C' : 'T') : (nG >= nT ? 'G' : 'T');
        }
        break;
      case 'C':
        if (!(nC >= nA && nC >= nG && nC >= nT)) {
          pick = nA >= nG ? (nA > nT ? 'A' : 'T') : (nG >= nT ? 'G' : 'T');
        }
        break;
      case 'G':
        if (!(nG >= nA && nG >= nC && nG >= nT)) {
          pick = nC >= nA ? (nC > nT ? 'C' : 'T') : (nA >= nT ? 'A' : 'T');
        }
        break;
      case 'T':
        if (!(nT >= nA && nT >= nC && nT >= nG)) {
          pick = nC >= nA ? (nC > nG ? 'C' : 'G') : (nA >= nG ? 'A' : 'G');
        }
        break;
      default:
        break;
    }
    out[c] = pick;
  }
}

void find_pattern_repeats(const DetectionInput& in, int32_t L, const int32_t* candidates,
                          FoundList& found, PatternWorkspace& workspace) {
  std::vector<PrefixGroup> groups;
  std::vector<char> consensus(static_cast<size_t>(L));
  Scorer scorer{in, candidates, L, workspace, groups, consensus};
  const int32_t a = run_gap_allowance(L);
  const int64_t T = int64_t{in.sequence.n} - 2 * int64_t{L} + 1;
  int64_t t = 0;
  while (t < T) {
    if (candidates[t] <= 0) {
      ++t;
      continue;
    }
    PassResult result = scorer.pass(t, 2 * int64_t{L} + a, found);
    if (result.outcome == PassResult::kFinalReject) result = scorer.pass(t, int64_t{L} + a, found);
    t = result.end + 1;
  }
}

bool pattern_is_dominated(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L) {
  const int32_t l = x.motif_length;
  const bool alike = std::ceil(1.1 * l) >= L || L <= l + 3;
  if (!alike) {
    const int32_t q = L % l;
    const double e = std::ceil(0.06 * L);
    if (!(q <= e || q >= l - e)) return false;
    if (l * x.units <= L) return false;
  }
  return 1.15 * l * x.units >= L * repeat.units && 0.5 * repeat.score <= x.score;
}

bool pattern_may_replace(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L) {
  const int32_t l = x.motif_length;
  if (std::ceil(1.1 * l) >= L) return true;
  if (L <= l + 2) return true;
  const int32_t q = L % l;
  const double e = std::ceil(0.04 * L);
  if (q > e && q < l - e) return false;
  if (L >= l * x.units) return false;
  if (l <= 3) return false;
  return (L * repeat.units >= l * x.units && 1.1 * x.score <= repeat.score) ||
         (L * repeat.units >= 1.2 * l * x.units && 0.85 * x.score <= repeat.score);
}

void record_pattern_repeats(const FoundList& found, PatternRepeatTable& table, int32_t n, int32_t L) {
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    const FoundRepeat& f = *it;
    const uint32_t head = static_cast<uint32_t>(f.start);
    if (table.at(head).motif_length != 0) {
      bool dominated = false;
      for (uint32_t x = head;; x = table.at(x).next) {
        if (pattern_is_dominated(f, table.at(x), L)) {
          dominated = true;
          break;
        }
        if (table.at(x).next == kNoRecord) break;
      }
      if (dominated) continue;
    }
    const int32_t reach = L > 3 ? L : 2 * L;
    const int64_t first = -static_cast<int64_t>(std::min(f.start, reach));
    const int64_t bound = static_cast<int64_t>((f.units - 1.0) * L);
    bool own_start = false;
    for (int64_t o = first; o < bound; ++o) {
      const int64_t pos = f.start + o;
      if (pos >= n) break;
      uint32_t chosen = static_cast<uint32_t>(pos);
      if (table.at(chosen).motif_length != 0) {
        for (uint32_t x = chosen;; x = table.at(x).next) {
          const PatternRepeatRecord& rec = table.at(x);
          if (pattern_may_replace(f, rec, L) && (rec.offset != 0 || own_start || o < 0)) {
            chosen = x;
            break;
          }
          if (rec.next == kNoRecord) {
            chosen = table.append_after(x);
            break;
          }
        }
      }
      PatternRepeatRecord& out = table.at(chosen);
      out.motif_length = L;
      out.offset = static_cast<int32_t>(o);
      out.pattern_start = f.pattern_start;
      out.units = f.units;
      out.score = f.score;
      out.listed = 0;
      if (o == 0) {
        out.listed = 1;
        own_start = true;
      }
    }
  }
}

Detection<PatternRepeatTable> detect_definition3(const DetectionInput& in) {
  const int32_t n = in.sequence.n, M = in.max_motif;
  std::vector<int32_t> candidates(static_cast<size_t>(n), 0);
  PatternRepeatTable records(n);
  PatternWorkspace workspace(M);
  FoundList found;
  std::vector<uint16_t> ring;
  SignificanceTables tables(M);
  WindowSchedule schedule(kDefinition3Screening, in.scoring, in.threshold, in.match_probability,
                          tables);
  for (int32_t L = 1; L <= M; ++L) {
    const std::optional<WindowParameters> wp = schedule.at(L);
    if (!wp) return DetectionFailure{DetectionFailure::Cause::kNoQuota, L, schedule.window()};
    screen_pattern_candidates(in.sequence, L, *wp, candidates.data(), ring);
    find_pattern_repeats(in, L, candidates.data(), found, workspace);
    record_pattern_repeats(found, records, n, L);
    found.clear();
  }
  return records;
}

}  // namespace rivulon
