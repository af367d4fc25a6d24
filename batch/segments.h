// A record as the detectors see it: letters folded to upper case, and split
// into the stretches of bases between the letters that are not bases.
#pragma once
#include <cstdint>
#include <vector>

namespace rivulon::batch {

struct Segment {
  int64_t start = 0;  // 0-based, in the record as held
  int64_t end = 0;    // one past the last base
  int64_t length() const { return end - start; }
};

// Folds every letter of bases[0, length) to upper case unless `keep_case`,
// then returns the maximal stretches of A, C, G, T (with `keep_case` also
// a, c, g, t) that are at least 2 bases long, in order.
std::vector<Segment> prepare_segments(char* bases, int64_t length, bool keep_case);

}  // namespace rivulon::batch
