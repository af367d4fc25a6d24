// Definition 1: every adjacent pair of copies reaches the similarity level.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "align/copy_alignment.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Marks in `similarity` (n floats) every position q where the copy of length L
// at q is followed by a copy similar enough to it: windows of w comparisons
// between s[x] and s[x + L + drift] are good with at least k0 matches; a copy
// whose L - w + 1 windows hold at least `quota` good ones, no bad run longer
// than `allowance`, and whose first base matches (or whose predecessor was
// accepted) is aligned with the next copy; it is accepted when the copy
// similarity reaches t (in single precision) and the alignment begins by
// pairing the first bases. Penalties negated. s[n] must be the sequence's
// terminating NUL. `ring` is scratch reused from call to call.
void screen_copies(int32_t L, int32_t w, int32_t k0, int32_t quota, int32_t allowance,
                   const char* s, int32_t n, float* similarity, AlignmentMatrix& matrix, double t,
                   int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                   std::vector<uint16_t>& ring);

// Sum over c = u-1 .. 0 of the copy similarity of copy c against copy u of the
// candidate starting at `start` (copy c is s[start + c*L .. start + c*L + L - 1]).
double score_new_copy(const char* s, int32_t n, int32_t start, int32_t u, int32_t L,
                      AlignmentMatrix& matrix, int32_t gap, int32_t terminal_gap,
                      int32_t mismatch, int32_t match);

// Joins the marks of `similarity` into candidate repeats of motif length L and
// grows each one copy at a time while the average similarity over all pairs of
// its copies stays at the extension floor 0.4 + 0.5 / sqrt(L). Consumed marks
// are zeroed. Returns how many of the candidates it added remain in the list.
int32_t group_copies(float* similarity, CandidateList& candidates, const char* s, int32_t n,
                     int32_t L, AlignmentMatrix& matrix, int32_t gap, int32_t terminal_gap,
                     int32_t mismatch, int32_t match);

// The whole definition 1 run: allocates its tables, examines every motif
// length 1..M, writes the report and releases everything. Penalties negated;
// `tables` stands for window-state tables A and B and the count distribution.
void detect_definition1(int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                        double t, int32_t M, const std::string& sequence_file,
                        const std::optional<std::string>& coding_file, const char* s, int32_t n,
                        SignificanceTables& tables, double p, int alignments, int text_report);

}  // namespace rivulon
