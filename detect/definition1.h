// Definition 1: every adjacent pair of copies reaches the similarity level.
#pragma once
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "align/copy_alignment.h"
#include "detect/detection.h"
#include "detect/marks.h"
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

// The same screening reading only the sequence, as a length screened ahead
// of the table: the accepted copies with their similarities, and, as unsure,
// each copy that the filter passed and whose first base differs from the
// next copy's, when no copy of this length was accepted L bases before it
// (in the table an earlier length's mark there would let it through).
void screen_copies_alone(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                         ScreenedMarks& out, AlignmentMatrix& matrix, std::vector<uint16_t>& ring);

// Puts a screening done alone into the table: its accepted copies, when no
// unsure copy has a positive similarity L bases before it in the table;
// otherwise the length is screened again on the table (screen_copies). Either
// way the table ends as screen_copies on it would leave it. True when the
// length was screened again.
bool put_screened(const DetectionInput& in, int32_t L, const WindowParameters& wp,
                  const ScreenedMarks& screened, float* similarity, AlignmentMatrix& matrix,
                  std::vector<uint16_t>& ring);

// Sum over c = u-1 .. 0 of the copy similarity of copy c against copy u of the
// candidate starting at `start` (copy c is s[start + c*L .. start + c*L + L - 1]).
double score_new_copy(const DetectionInput& in, int32_t start, int32_t u, int32_t L,
                      AlignmentMatrix& matrix);

// s + v + v + ... (k additions of v, each rounded to double as it is made),
// in O(1) when every partial sum is exact, as with whole-number similarities;
// otherwise by adding k times.
double add_repeatedly(double s, double v, int64_t k);

// The alignments of one candidate's copies, shared between copies with the
// same bytes: a copy pair's similarity depends only on the two copies' bytes
// (and on which positions lie past the end, so a copy running past the end is
// never shared). An array of identical copies then costs one alignment per
// new copy instead of one per earlier copy.
class CopyPairMemo {
 public:
  // Forgets everything: a new candidate starting at `start`, motif length L.
  void reset(int64_t start, int32_t L);
  // score_new_copy with the same additions in the same order, each
  // similarity aligned once per pair of distinct copy contents.
  double score_new_copy(const DetectionInput& in, int32_t u, AlignmentMatrix& matrix);

 private:
  int32_t content_of(const DetectionInput& in, int32_t copy);
  int64_t start_ = 0;
  int32_t L_ = 0;
  int32_t copies_ = 0;                                        // copies given a content id
  std::vector<std::pair<int32_t, int32_t>> runs_;             // (content id, copies) in copy order
  std::unordered_map<std::string_view, int32_t> contents_;   // bytes -> content id
  std::unordered_map<uint64_t, double> pairs_;                // content ids -> similarity
};

// Joins the marks of `similarity` into candidate repeats of motif length L and
// grows each one copy at a time while the average similarity over all pairs of
// its copies stays at the extension floor 0.4 + 0.5 / sqrt(L). Consumed marks
// are zeroed.
void group_copies(const DetectionInput& in, int32_t L, float* similarity,
                  CandidateList& candidates, AlignmentMatrix& matrix, CopyPairMemo& memo);

// The whole definition 1 detection over motif lengths 1..M.
Detection<RecordTable> detect_definition1(const DetectionInput& in);

}  // namespace rivulon
