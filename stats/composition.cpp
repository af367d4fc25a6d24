#include "stats/composition.h"

namespace rivulon {

BaseCounts count_bases(SequenceView seq) {
  BaseCounts counts;
  for (int32_t i = 0; i < seq.n; ++i) {
    switch (seq.bases[i]) {
      case 'A': case 'a': ++counts.a; break;
      case 'C': case 'c': ++counts.c; break;
      case 'G': case 'g': ++counts.g; break;
      case 'T': case 't': ++counts.t; break;
      default: break;
    }
  }
  return counts;
}

double match_probability(const BaseCounts& counts, int64_t n) {
  // Counts below 2^53 convert exactly, so this is the quotient of the counts
  // whichever way they were kept.
  const double total = static_cast<double>(n);
  const double t = static_cast<double>(counts.t) / total, g = static_cast<double>(counts.g) / total,
               c = static_cast<double>(counts.c) / total, a = static_cast<double>(counts.a) / total;
  return t * t + g * g + c * c + a * a;
}

}  // namespace rivulon
