// Definition 2: the adjacent pairs of copies reach the similarity level on average.
#pragma once
#include <cstdint>
#include <vector>

#include "align/copy_alignment.h"
#include "detect/detection.h"
#include "detect/marks.h"
#include "detect/records.h"
#include "stats/significance.h"

namespace rivulon {

// Finds the copies of length L worth grouping. The window filter is that of
// screen_copies; the first qualifying copy of a stretch is aligned with the
// next copy and marked when the copy similarity reaches the threshold (in
// double precision); qualifying copies within L window positions of the
// latest mark are marked without alignment. Reads only the sequence.
void screen_copies_avg(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                       ScreenedMarks& out, AlignmentMatrix& matrix, std::vector<uint16_t>& ring);

// Puts a screening's marks into the table (1.0 in `marks`, n floats): every
// entry the screening passed is cleared first, those beyond keep their values.
void put_marks(const ScreenedMarks& screened, float* marks);

// Turns each run of marks into at most one candidate: the most similar
// adjacent pair is the core, widened by copies similar enough to the core's
// copy; kept whole when its pairs average the threshold, otherwise trimmed
// around the core. `pairs` is scratch, grown to the longest run. False when the trimming finds no
// stretch although its core reaches the threshold (an internal check that
// never fails).
bool group_around_best_pair(const DetectionInput& in, int32_t L, const float* marks,
                            CandidateList& candidates, AlignmentMatrix& matrix,
                            std::vector<double>& pairs);

// The whole definition 2 detection over motif lengths 1..M.
Detection<RecordTable> detect_definition2(const DetectionInput& in);

}  // namespace rivulon
