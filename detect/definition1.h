// Definition 1: every adjacent pair of copies reaches the similarity level.
#pragma once
#include <cstdint>
#include <vector>

#include "align/copy_alignment.h"
#include "detect/detection.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Marks in `similarity` (n floats) every position q where the copy of length L
// at q is followed by a copy similar enough to it: windows of w comparisons
// between s[x] and s[x + L + drift] are good with at least k0 matches; a copy
// whose L - w + 1 windows hold at least `quota` good ones, no bad run longer
// than `allowance`, and whose first base matches (or whose predecessor was
// accepted) is aligned with the next copy; it is accepted when the copy
// similarity reaches the threshold (in single precision) and the alignment
// begins by pairing the first bases. `ring` is scratch reused from call to call.
void screen_copies(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                   float* similarity, AlignmentMatrix& matrix, std::vector<uint16_t>& ring);

// Sum over c = u-1 .. 0 of the copy similarity of copy c against copy u of the
// candidate starting at `start` (copy c is s[start + c*L .. start + c*L + L - 1]).
double score_new_copy(const DetectionInput& in, int32_t start, int32_t u, int32_t L,
                      AlignmentMatrix& matrix);

// Joins the marks of `similarity` into candidate repeats of motif length L and
// grows each one copy at a time while the average similarity over all pairs of
// its copies stays at the extension floor 0.4 + 0.5 / sqrt(L). Consumed marks
// are zeroed.
void group_copies(const DetectionInput& in, int32_t L, float* similarity,
                  CandidateList& candidates, AlignmentMatrix& matrix);

// The whole definition 1 detection over motif lengths 1..M.
Detection<RecordTable> detect_definition1(const DetectionInput& in);

}  // namespace rivulon
