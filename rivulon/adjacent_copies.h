// The first step of the adjacent-copy search: runs of arrays whose copies
// follow their first without indels and reach the minimum score.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "rivulon/rivulon.h"

namespace rivulon {

constexpr int32_t kLeastAdjacentPeriod = 7;  // the shortest motif looked for

// A run of windows on one diagonal whose arrays reach the minimum score:
// [start, end) from the first window's array to the last's, the motif the
// first copy of the best of them (`score`), in the order of motif length,
// then start.
struct Candidate {
  int64_t start = 0, end = 0, motif_start = 0, score = 0;
  int32_t motif_length = 0;
  bool operator==(const Candidate&) const = default;
};

// For every motif length L from kLeastAdjacentPeriod on, each base is
// compared with the one L further on (a match scores `match`, anything else
// `-mismatch`; only A, C, G and T match). A window of W >= L such comparisons
// stands for the array of W + L bases whose copies follow its first without
// indels; it scores match x L (the first copy) plus the window's sum, so it
// reaches the minimum score when enough of its comparisons match.
// Consecutive windows that reach it make one candidate, its motif the first
// copy of the best of them. The window needs W + L bases with at least
// options.min_score / options.match of them: W is L or that less L.
std::vector<Candidate> adjacent_copy_candidates(std::string_view bases, const Options& options);

}  // namespace rivulon
