// The base composition of a sequence and the chance that two of its bases,
// drawn at random, are equal: the match probability the screening model uses.
#pragma once
#include <cstdint>

#include "align/sequence.h"

namespace rivulon {

// Case-insensitive counts of A, C, G and T.
struct BaseCounts {
  int64_t a = 0, c = 0, g = 0, t = 0;
};

BaseCounts count_bases(SequenceView seq);

// (T/n)^2 + (G/n)^2 + (C/n)^2 + (A/n)^2, added in that order, n the number of
// bases the counts were taken over. NaN for n = 0.
double match_probability(const BaseCounts& counts, int64_t n);

}  // namespace rivulon
