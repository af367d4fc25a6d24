// Loading the sequence file and its base composition.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

#include "align/sequence.h"

namespace rivulon {

struct Sequence {
  std::vector<char> buffer;  // `capacity` bytes: the bases as read, then a NUL
  int32_t n = 0;             // number of bases (the NUL not counted)
  int64_t capacity = 0;      // starts at 16 and doubles whenever the buffer is full
  double count_a = 0, count_c = 0, count_g = 0, count_t = 0;  // case-insensitive base counts

  const char* bases() const { return buffer.data(); }
  SequenceView view() const { return {buffer.data(), n}; }
};

// Reads `in` to its end: bases (ACGT in either case) are kept as read, blanks
// and line ends are skipped, '>' starts a header that runs to the next line end.
// Any other byte prints "error! input file is not valid\n" and ends the run
// with status 5505; a sequence longer than the 32-bit length allows ends it
// with the allocation message and status 142.
Sequence load_sequence(std::FILE* in);

// Probability that two bases drawn at random from the sequence are equal:
// (T/n)^2 + (G/n)^2 + (C/n)^2 + (A/n)^2, added in that order. NaN for n = 0.
double match_probability(const Sequence& seq);

}  // namespace rivulon
