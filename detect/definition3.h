// Definition 3: a stretch aligns with a pattern of the motif length, repeated
// end to end, with at least the minimum score.
#pragma once
#include <cstdint>
#include <vector>

#include "align/pattern_alignment.h"
#include "detect/detection.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Receives the candidate starts of motif length L in increasing order, each
// with its number of good windows (at least 1, at most L); what `candidates`
// held before is dropped. Windows of w comparisons between s[x] and
// s[x + L + drift] are good with at least k0 matches; a start qualifies when
// its L - w + 1 windows hold at least `quota` good ones and no bad run longer
// than `allowance`.
void screen_pattern_candidates(SequenceView seq, int32_t L, const WindowParameters& wp,
                               CandidateStarts& candidates, std::vector<uint16_t>& ring);

// The base a consensus column takes, from the representative copy's own base
// and the column's counts. The own base stays unless another is strictly more
// frequent. Otherwise the other three bases, taken in the order C, A, G, T
// (the own base left out) as x, y, z, meet in two rounds: x against y, x
// winning a tie; then the winner against z, z winning a tie against x but
// not against y. A byte other than A, C, G, T stays.
char pick_consensus_base(char own, int32_t nA, int32_t nC, int32_t nG, int32_t nT);

// Consensus of the copies of the region [first, last] (inside the sequence)
// in phase with the representative copy: one capital letter per column (L
// bytes into `out`).
void build_consensus_pattern(const char* s, int64_t first, int64_t last, int64_t representative,
                             int32_t L, char* out);

// Gathers the candidate starts of motif length L into regions, aligns each
// region against its representative copy (and a consensus pattern when that
// does not settle it) and puts every accepted repeat at the front of `found`.
void group_pattern_candidates(const DetectionInput& in, int32_t L, const CandidateStarts& candidates,
                              FoundList& found, PatternWorkspace& workspace);

// The whole definition 3 detection over motif lengths 1..M.
Detection<PatternRepeatTable> detect_definition3(const DetectionInput& in);

}  // namespace rivulon
