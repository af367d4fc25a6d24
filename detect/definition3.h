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

// Rewrites `candidates` (n entries): entry s receives the number of good
// windows of a candidate start at s for motif length L, 0 elsewhere. Windows
// of w comparisons between s[x] and s[x + L + drift] are good with at least
// k0 matches; a start qualifies when its L - w + 1 windows hold at least
// `quota` good ones and no bad run longer than `allowance`.
void screen_pattern_candidates(SequenceView seq, int32_t L, const WindowParameters& wp,
                               int32_t* candidates, std::vector<uint16_t>& ring);

// Consensus of the copies of the region [t, last] (inside the sequence) in
// phase with the representative copy at P: one capital letter per column (L
// bytes into `out`).
void build_consensus_pattern(const char* s, int64_t t, int64_t last, int64_t P, int32_t L,
                             char* out);

// Gathers the candidate starts of motif length L into regions, aligns each
// region against its representative copy (and a consensus pattern when that
// does not settle it) and puts every accepted repeat at the front of `found`.
void find_pattern_repeats(const DetectionInput& in, int32_t L, const int32_t* candidates,
                          FoundList& found, PatternWorkspace& workspace);

// True when the standing record `x` at the new repeat's start makes it redundant.
bool pattern_is_dominated(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L);
// True when the new repeat may take the place of record `x`.
bool pattern_may_replace(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L);

// Merges the found repeats (newest first) into the pattern repeat table.
void record_pattern_repeats(const FoundList& found, PatternRepeatTable& table, int32_t n, int32_t L);

// The whole definition 3 detection over motif lengths 1..M.
Detection<PatternRepeatTable> detect_definition3(const DetectionInput& in);

}  // namespace rivulon
