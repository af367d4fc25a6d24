// Merging the repeats found for one motif length into the record table that
// all motif lengths share. One algorithm for the three definitions; each
// brings its rules: when a standing record makes a new repeat redundant, when
// a new repeat may take a record's place, how far its records reach, and what
// a record holds.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "detect/records.h"

namespace rivulon {

// The merging rules of definitions 1 and 2.
struct MergeConstants {
  double near_factor;              // near period: ceil(near_factor * D) >= L ...
  int32_t margin;                  // ... or L <= D + margin
  double dominated_remainder;      // remainder factor in is_dominated
  double replace_remainder;        // remainder factor in may_replace
  double dominated_length;         // length factor in is_dominated
  double dominated_similarity;     // similarity factor in is_dominated
  bool protect_short_motifs;       // may_replace refuses records with D <= 3 (not near)
  double replace_similarity;       // similarity factor at equal or greater length
  double replace_length;           // length factor of the longer-repeat rule
  double replace_long_similarity;  // similarity factor of the longer-repeat rule
};

inline constexpr MergeConstants kDefinition1Merge{.near_factor = 1.1,
                                                  .margin = 3,
                                                  .dominated_remainder = 0.06,
                                                  .replace_remainder = 0.06,
                                                  .dominated_length = 1.15,
                                                  .dominated_similarity = 0.75,
                                                  .protect_short_motifs = true,
                                                  .replace_similarity = 1.15,
                                                  .replace_length = 1.2,
                                                  .replace_long_similarity = 0.85};
inline constexpr MergeConstants kDefinition2Merge{.near_factor = 1.1,
                                                  .margin = 2,
                                                  .dominated_remainder = 0.05,
                                                  .replace_remainder = 0.04,
                                                  .dominated_length = 1.15,
                                                  .dominated_similarity = 0.8,
                                                  .protect_short_motifs = false,
                                                  .replace_similarity = 1.05,
                                                  .replace_length = 1.2,
                                                  .replace_long_similarity = 0.98};

// True when record `r` at the candidate's start makes candidate `k` of motif
// length L redundant. `r` must hold a record (motif length >= 1).
bool is_dominated(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c);

// True when candidate `k` of motif length L may take the place of record `r`.
bool may_replace(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c);

// The merging rules of definition 3. Its products are formed left to right in
// double, e.g. 1.15 * l * units is (1.15 * l) * units: other groupings give
// other last bits and other decisions at the boundaries.
struct PatternMergeConstants {
  double alike_factor;           // alike lengths: ceil(alike_factor * l) >= L ...
  int32_t dominated_margin;      // ... or L <= l + dominated_margin (dominance test)
  int32_t replace_margin;        // ... or L <= l + replace_margin (replacement test)
  double dominated_remainder;    // remainder factor of a near multiple (dominance)
  double replace_remainder;      // remainder factor of a near multiple (replacement)
  double dominated_length;       // the record's length, times this, covers the new repeat
  double dominated_score;        // the new repeat's score, times this, is at most the record's
  int32_t protected_motif;       // records of motifs this short or shorter are never replaced
  double replace_score;          // at equal or greater length: score factor of the record
  double replace_length;         // length factor of the longer-repeat rule
  double replace_long_score;     // score factor of the longer-repeat rule
};

inline constexpr PatternMergeConstants kDefinition3Merge{.alike_factor = 1.1,
                                                         .dominated_margin = 3,
                                                         .replace_margin = 2,
                                                         .dominated_remainder = 0.06,
                                                         .replace_remainder = 0.04,
                                                         .dominated_length = 1.15,
                                                         .dominated_score = 0.5,
                                                         .protected_motif = 3,
                                                         .replace_score = 1.1,
                                                         .replace_length = 1.2,
                                                         .replace_long_score = 0.85};

// True when the standing record `x` at the new repeat's start makes it redundant.
bool pattern_is_dominated(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L,
                          const PatternMergeConstants& c);
// True when the new repeat may take the place of record `x`.
bool pattern_may_replace(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L,
                         const PatternMergeConstants& c);

// The rules of each definition as merge_found reads them.
inline bool dominates(const RepeatRecord& r, const CandidateRepeat& k, int32_t L, const MergeConstants& c) {
  return is_dominated(k, r, L, c);
}
inline bool replaceable(const RepeatRecord& r, const CandidateRepeat& k, int32_t L, const MergeConstants& c) {
  return may_replace(k, r, L, c);
}
// Records reach to the start of the last copy.
inline int64_t span_end(const CandidateRepeat& k, int32_t L, const MergeConstants&) {
  return int64_t{k.units - 1} * L;
}
inline RepeatRecord make_record(const CandidateRepeat& k, int32_t L, const MergeConstants&) {
  return RepeatRecord{k.start, L, k.units, k.similarity};
}

inline bool dominates(const PatternRepeatRecord& x, const FoundRepeat& f, int32_t L,
                      const PatternMergeConstants& c) {
  return pattern_is_dominated(f, x, L, c);
}
inline bool replaceable(const PatternRepeatRecord& x, const FoundRepeat& f, int32_t L,
                        const PatternMergeConstants& c) {
  return pattern_may_replace(f, x, L, c);
}
// Records reach trunc((units - 1) * L) bases, short of the last unit.
inline int64_t span_end(const FoundRepeat& f, int32_t L, const PatternMergeConstants&) {
  return static_cast<int64_t>((f.units - 1.0) * L);
}
inline PatternRepeatRecord make_record(const FoundRepeat& f, int32_t L, const PatternMergeConstants&) {
  return PatternRepeatRecord{f.start, L, f.pattern_start, f.units, f.score};
}

// Writes the repeats of motif length L found last-to-first (the list's front
// is its back) into the table. A repeat is skipped when a record at its start
// dominates it; otherwise it covers every position from up to L (2L for
// L <= 3) before its start to span_end after it, taking over the first
// replaceable record of each position's chain (never another repeat's start
// record at the new repeat's own start) and appending to the chain where none
// is. Positions at or beyond n are never written; the record at the start is
// the listed one.
template <typename Found, typename Record, typename Rules>
void merge_found(const std::vector<Found>& found, RecordArena<Record>& table, int32_t n, int32_t L,
                 const Rules& rules) {
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    const Found& repeat = *it;
    bool dominated = false;
    for (auto entry : table.chain(repeat.start)) {
      if (dominates(entry.repeat, repeat, L, rules)) {
        dominated = true;
        break;
      }
    }
    if (dominated) continue;
    const uint32_t id = table.add_repeat(make_record(repeat, L, rules));
    const int32_t reach = L > 3 ? L : 2 * L;
    const int64_t first = -static_cast<int64_t>(std::min(repeat.start, reach));
    const int64_t end = span_end(repeat, L, rules);
    for (int64_t offset = first; offset < end; ++offset) {
      const int64_t pos = repeat.start + offset;
      if (pos >= n) break;
      RecordLink* out = nullptr;
      for (auto entry : table.chain(pos)) {
        if (replaceable(entry.repeat, repeat, L, rules) && (entry.offset != 0 || offset != 0)) {
          out = &entry.link;
          break;
        }
      }
      if (out == nullptr) {
        table.append_to_chain(pos, id);
      } else {
        out->repeat = id;
      }
    }
  }
}

}  // namespace rivulon
