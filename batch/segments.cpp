#include "batch/segments.h"

namespace rivulon::batch {

namespace {

bool is_base(char c, bool keep_case) {
  switch (c) {
    case 'A': case 'C': case 'G': case 'T': return true;
    case 'a': case 'c': case 'g': case 't': return keep_case;
    default: return false;
  }
}

}  // namespace

std::vector<Segment> prepare_segments(char* bases, int64_t length, bool keep_case) {
  if (!keep_case) {
    for (int64_t i = 0; i < length; ++i) {
      if (bases[i] >= 'a' && bases[i] <= 'z') bases[i] = static_cast<char>(bases[i] - 'a' + 'A');
    }
  }
  std::vector<Segment> segments;
  int64_t i = 0;
  while (i < length) {
    while (i < length && !is_base(bases[i], keep_case)) ++i;
    const int64_t start = i;
    while (i < length && is_base(bases[i], keep_case)) ++i;
    if (i - start >= 2) segments.push_back(Segment{start, i});
  }
  return segments;
}

}  // namespace rivulon::batch
