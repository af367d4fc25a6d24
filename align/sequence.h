// The sequence as the kernels and detectors read it, and the scoring scheme.
#pragma once
#include <cstdint>

namespace rivulon {

// A loaded sequence, not owned.
struct SequenceView {
  const char* bases = nullptr;  // the bases as read; bases[n] is a NUL
  int32_t n = 0;                // number of bases
};

// True when the bases at positions a < b are equal; a position at or beyond
// the end of the sequence never equals anything.
inline bool same_base(const char* s, int64_t n, int64_t a, int64_t b) { return b < n && s[a] == s[b]; }

// Alignment scores, each added to a path's score as it stands: a match adds
// `match` (>= 0); a mismatch, a gap and a gap at the end of a copy add their
// penalties, which are therefore <= 0. The console asks for the penalties as
// positive numbers; the record is built once from them and never changed.
struct Scoring {
  int32_t match = 0;         // >= 0
  int32_t mismatch = 0;      // <= 0
  int32_t gap = 0;           // <= 0
  int32_t terminal_gap = 0;  // <= 0: a gap along the last row or column of a copy alignment
};

// The record from the penalties as users give them, positive numbers.
inline Scoring scoring_from_penalties(int32_t match, int32_t mismatch, int32_t gap, int32_t terminal_gap) {
  return Scoring{match, -mismatch, -gap, -terminal_gap};
}

}  // namespace rivulon
