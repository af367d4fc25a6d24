// Definition 2: the adjacent pairs of copies reach the similarity level on average.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "align/copy_alignment.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Marks (1.0 in `marks`, n floats) the copies of length L worth grouping. The
// window filter is that of screen_copies; the first qualifying copy of a
// stretch is aligned with the next copy and marked when the copy similarity
// reaches t (in double precision); qualifying copies within L window
// positions of the latest mark are marked without alignment. Every entry the
// scan passes is cleared first.
void screen_copies_avg(int32_t L, int32_t w, int32_t k0, int32_t quota, int32_t allowance,
                       const char* s, int32_t n, float* marks, AlignmentMatrix& matrix, double t,
                       int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       int32_t M, std::vector<uint16_t>& ring);

// Turns each run of marks into at most one candidate: the most similar
// adjacent pair is the core, widened by copies similar enough to the core's
// copy; kept whole when its pairs average t, otherwise trimmed around the
// core. `pairs` is scratch of at least n / L doubles. Returns the number of
// candidates added.
int32_t group_around_best_pair(const float* marks, CandidateList& candidates, const char* s,
                               int32_t n, int32_t L, AlignmentMatrix& matrix, int32_t gap,
                               int32_t terminal_gap, int32_t mismatch, int32_t match, double t,
                               std::vector<double>& pairs);

// The whole definition 2 run, with the arguments in the order the run driver
// passes them (`tables` stands for window-state tables A, B and the count
// distribution). Returns 0.
int detect_definition2(int32_t gap, int32_t terminal_gap, int32_t mismatch, int32_t match,
                       double t, int32_t M, const std::string& sequence_file,
                       const std::optional<std::string>& coding_file, const char* s, int32_t n,
                       SignificanceTables& tables, double p, int alignments, int text_report);

}  // namespace rivulon
