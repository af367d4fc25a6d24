// Merging the candidates of one motif length into the record table that all
// motif lengths share (definitions 1 and 2, each with its own constants).
#pragma once
#include <cstdint>

#include "detect/records.h"

namespace rivulon {

struct MergeConstants {
  double near_factor;             // near period: ceil(near_factor * D) >= L ...
  int32_t margin;                 // ... or L <= D + margin
  double dominated_remainder;     // remainder factor in is_dominated
  double replace_remainder;       // remainder factor in may_replace
  double dominated_length;        // length factor in is_dominated
  double dominated_similarity;    // similarity factor in is_dominated
  bool protect_short_motifs;      // may_replace refuses records with D <= 3 (not near)
  double replace_similarity;      // similarity factor at equal or greater length
  double replace_length;          // length factor of the longer-repeat rule
  double replace_long_similarity;  // similarity factor of the longer-repeat rule
};

inline constexpr MergeConstants kDefinition1Merge{1.1, 3, 0.06, 0.06, 1.15, 0.75, true, 1.15, 1.2, 0.85};
inline constexpr MergeConstants kDefinition2Merge{1.1, 2, 0.05, 0.04, 1.15, 0.8, false, 1.05, 1.2, 0.98};

// True when record `r` at the candidate's start makes candidate `k` of motif
// length L redundant. `r` must hold a record (motif length >= 1).
bool is_dominated(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c);

// True when candidate `k` of motif length L may take the place of record `r`.
bool may_replace(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c);

// Writes the candidates (newest first) into the record table: a candidate is
// skipped when a record at its start dominates it; otherwise it writes a
// record at every position from up to L (2L for L <= 3) before its start to
// the start of its last copy, overwriting replaceable records and appending
// to the chain elsewhere. Positions at or beyond n are never written.
void merge_candidates(const CandidateList& candidates, RecordTable& table, int32_t n, int32_t L,
                      const MergeConstants& c);

}  // namespace rivulon
