#include "detect/definition3.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "detect/lengths_in_parallel.h"
#include "detect/marks.h"
#include "detect/merge.h"
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

struct RegionScorer {
  const DetectionInput& in;
  const CandidateStarts& candidates;
  int32_t L;
  PatternWorkspace& ws;
  std::vector<PrefixGroup>& groups;
  std::vector<char>& consensus;

  // The region that opens at the candidate under `opening` and takes every
  // further candidate within `reach` of the last one taken.
  PassResult pass(CandidateStarts::Cursor opening, int64_t reach, FoundList& found) {
    const char* s = in.sequence.bases;
    const int32_t n = in.sequence.n;
    const double threshold = in.threshold;
    const int32_t K = std::min(L, 3);
    const int64_t start = opening.at;
    int64_t last = start;
    int32_t top = 0;
    groups.clear();
    CandidateStarts::Cursor taken = opening;
    do {
      const int64_t u = taken.at;
      if (u > last + reach) break;
      const int32_t c = candidates.good(taken);
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
    } while (candidates.next(taken));
    const int64_t end = std::min(last + reach + 1, int64_t{n});
    const int64_t H = end - start;
    if (static_cast<double>(H * in.scoring.match) < threshold) return {PassResult::kQuickReject, end};

    // Representative copy: the largest group, the later-created one on ties.
    int64_t representative = start;
    int32_t largest = 0;
    for (const PrefixGroup& g : groups) {
      if (g.count >= largest) {
        largest = g.count;
        representative = g.first;
      }
    }
    const int32_t rows = static_cast<int32_t>(H);
    PatternScore best = score_against_pattern(in.sequence, start - 1, rows, s + representative, L,
                                              in.scoring, threshold, ws);
    if (!(best.score >= threshold && best.aligned_length >= 2 * L)) {
      build_consensus_pattern(s, start, last, representative, L, consensus.data());
      const PatternScore second = score_against_pattern(in.sequence, start - 1, rows,
                                                        consensus.data(), L, in.scoring, threshold, ws);
      if (second.score >= best.score) best = second;
    }
    const double score = best.score;
    const int32_t length = best.aligned_length, first = best.first_row;
    if (score >= threshold && length >= kMinimumCopies * L) {
      found.push_back({static_cast<int32_t>(start + first), static_cast<int32_t>(representative),
                       static_cast<double>(length) / L, score});
      return {PassResult::kAccepted, end};
    }
    return {PassResult::kFinalReject, end};
  }
};

}  // namespace

void screen_pattern_candidates(SequenceView seq, int32_t L, const WindowParameters& wp,
                               CandidateStarts& candidates, std::vector<uint16_t>& ring) {
  candidates.clear(L - wp.w + 1);
  scan_windows<true, true>(seq, L, wp.w, wp.k0, pattern_max_drift(L), ring, [&](int64_t k, WindowState f) {
    if (!(f.good >= wp.quota && k >= f.slots - 1 && f.longest <= wp.allowance)) return false;
    candidates.push_back(static_cast<int32_t>(k - f.slots + 1), f.good);
    return true;
  }, [](int64_t, int64_t) {});
}

char pick_consensus_base(char own, int32_t nA, int32_t nC, int32_t nG, int32_t nT) {
  if (own != 'A' && own != 'C' && own != 'G' && own != 'T') return own;
  auto count = [&](char base) {
    return base == 'A' ? nA : base == 'C' ? nC : base == 'G' ? nG : nT;
  };
  if (count(own) >= nA && count(own) >= nC && count(own) >= nG && count(own) >= nT) return own;
  char others[3];
  int k = 0;
  for (char base : {'C', 'A', 'G', 'T'}) {
    if (base != own) others[k++] = base;
  }
  const char x = others[0], y = others[1], z = others[2];
  if (count(x) >= count(y)) return count(x) > count(z) ? x : z;
  return count(y) >= count(z) ? y : z;
}

void build_consensus_pattern(const char* s, int64_t first, int64_t last, int64_t representative,
                             int32_t L, char* out) {
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
    for (int64_t q = representative + c; q <= last; q += L) {
      if (q >= first) tally(q);
    }
    for (int64_t q = representative + c - L; q >= first; q -= L) {
      if (q <= last) tally(q);
    }
    out[c] = pick_consensus_base(upper(s[representative + c]), nA, nC, nG, nT);
  }
}

void group_pattern_candidates(const DetectionInput& in, int32_t L, const CandidateStarts& candidates,
                              FoundList& found, PatternWorkspace& workspace) {
  std::vector<PrefixGroup> groups;
  std::vector<char> consensus(static_cast<size_t>(L));
  RegionScorer scorer{in, candidates, L, workspace, groups, consensus};
  const int32_t allowance = run_gap_allowance(L);
  const int64_t limit = int64_t{in.sequence.n} - 2 * int64_t{L} + 1;
  int64_t start = 0;
  CandidateStarts::Cursor next;
  bool more = candidates.next(next);
  while (start < limit) {
    // The next candidate start at or after `start`.
    while (more && next.at < start) more = candidates.next(next);
    if (!more) break;
    start = next.at;
    if (start >= limit) break;
    PassResult result = scorer.pass(next, 2 * int64_t{L} + allowance, found);
    if (result.outcome == PassResult::kFinalReject) {
      result = scorer.pass(next, int64_t{L} + allowance, found);
    }
    start = result.end + 1;
  }
}

Detection<PatternRepeatTable> detect_definition3(const DetectionInput& in) {
  const int32_t n = in.sequence.n, M = in.max_motif;
  // Work spaces are reused between lengths and, through the scratch, between
  // calls; one is at work on one length at a time.
  DetectorScratch own_scratch;
  DetectorScratch& scratch = in.scratch != nullptr ? *in.scratch : own_scratch;
  auto prepare = [&](std::unique_ptr<PatternWorker>& worker) {
    if (!worker || worker->longest < M) worker = std::make_unique<PatternWorker>(M);
  };
  // Every length's screening and region search reads only the sequence and
  // its own work space; the merging follows increasing length.
  auto search = [&](PatternWorker& worker, int32_t L, const WindowParameters& wp, FoundList& found) {
    found.clear();
    screen_pattern_candidates(in.sequence, L, wp, worker.candidates, worker.ring);
    group_pattern_candidates(in, L, worker.candidates, found, worker.workspace);
  };
  PatternRepeatTable records(n);
  auto take_up = [&](int32_t L, const WindowParameters&, FoundList& found) {
    merge_found(found, records, n, L, kDefinition3Merge);
    return std::optional<DetectionFailure>();
  };
  const std::optional<DetectionFailure> failure = search_lengths<PatternWorker, FoundList>(
      in, kDefinition3Screening, scratch.patterns, prepare, search, take_up);
  if (failure) return *failure;
  return records;
}

}  // namespace rivulon
