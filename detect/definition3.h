// Definition 3: a stretch aligns with a pattern of the motif length, repeated
// end to end, with at least the minimum score.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "align/pattern_alignment.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Rewrites `candidates` (n entries): entry s receives the number of good
// windows of a candidate start at s for motif length L, 0 elsewhere. Windows
// of w comparisons between s[x] and s[x + L + drift] are good with at least
// k0 matches; a start qualifies when its L - w + 1 windows hold at least
// `quota` good ones and no bad run longer than `allowance`.
void screen_pattern_candidates(int32_t L, int32_t w, int32_t k0, int32_t quota, int32_t allowance,
                               const char* s, int32_t n, int32_t* candidates,
                               std::vector<uint16_t>& ring);

// Consensus of the copies of the region [t, last] in phase with the
// representative copy at P: one capital letter per column (L bytes into `out`).
void build_consensus_pattern(const char* s, int32_t n, int64_t t, int64_t last, int64_t P,
                             int32_t L, char* out);

// Gathers the candidate starts of motif length L into regions, aligns each
// region against its representative copy (and a consensus pattern when that
// does not settle it) and puts every accepted repeat at the front of `found`.
void find_pattern_repeats(const int32_t* candidates, FoundList& found, const char* s, int32_t n,
                          int32_t L, PatternWorkspace& workspace, int32_t gap,
                          int32_t terminal_gap, int32_t mismatch, int32_t match, double threshold);

// True when the standing record `x` at the new repeat's start makes it redundant.
bool pattern_is_dominated(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L);
// True when the new repeat may take the place of record `x`.
bool pattern_may_replace(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L);

// Merges the found repeats (newest first) into the pattern repeat table.
void record_pattern_repeats(const FoundList& found, PatternRepeatTable& table, int32_t n, int32_t L);

// The whole definition 3 run, with the arguments in the order the run driver
// passes them (`tables` stands for window-state tables A, B and the count
// distribution). Returns 0.
int detect_definition3(int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       double threshold, int32_t M, const std::string& sequence_file,
                       const std::optional<std::string>& coding_file, const char* s, int32_t n,
                       SignificanceTables& tables, double p, int alignments, int text_report);

}  // namespace rivulon
