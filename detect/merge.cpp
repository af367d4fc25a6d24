#include "detect/merge.h"

#include <algorithm>
#include <cmath>

namespace rivulon {

namespace {

bool near_period(int32_t D, int32_t L, const MergeConstants& c) {
  return std::ceil(c.near_factor * D) >= L || L <= D + c.margin;
}

bool near_multiple(int32_t D, int32_t L, double factor) {
  int32_t r = L % D;
  double e = std::ceil(factor * L);
  return r <= e || r >= D - e;
}

}  // namespace

bool is_dominated(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c) {
  const int32_t D = r.motif_length;
  const int64_t record_length = int64_t{r.units} * D;
  if (!near_period(D, L, c)) {
    if (!(near_multiple(D, L, c.dominated_remainder) && L <= record_length)) return false;
  }
  const int64_t candidate_length = int64_t{k.units} * L;
  if (!(static_cast<double>(candidate_length) <= c.dominated_length * static_cast<double>(record_length) ||
        int64_t{k.units - 1} * L <= record_length)) {
    return false;
  }
  return c.dominated_similarity * static_cast<double>(k.similarity) <= r.similarity;
}

bool may_replace(const CandidateRepeat& k, const RepeatRecord& r, int32_t L, const MergeConstants& c) {
  const int32_t D = r.motif_length;
  if (near_period(D, L, c)) return true;
  const int64_t record_length = int64_t{r.units} * D;
  if (!near_multiple(D, L, c.replace_remainder) || !(L < record_length)) return false;
  if (c.protect_short_motifs && D <= 3) return false;
  const int64_t candidate_length = int64_t{k.units} * L;
  const double sim = k.similarity;
  if (candidate_length >= record_length && sim >= c.replace_similarity * r.similarity) return true;
  return static_cast<double>(candidate_length) >= c.replace_length * static_cast<double>(record_length) &&
         sim >= c.replace_long_similarity * r.similarity;
}

bool pattern_is_dominated(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L,
                          const PatternMergeConstants& c) {
  const int32_t l = x.motif_length;
  const bool alike = std::ceil(c.alike_factor * l) >= L || L <= l + c.dominated_margin;
  if (!alike) {
    const int32_t remainder = L % l;
    const double e = std::ceil(c.dominated_remainder * L);
    if (!(remainder <= e || remainder >= l - e)) return false;
    if (l * x.units <= L) return false;
  }
  return c.dominated_length * l * x.units >= L * repeat.units &&
         c.dominated_score * repeat.score <= x.score;
}

bool pattern_may_replace(const FoundRepeat& repeat, const PatternRepeatRecord& x, int32_t L,
                         const PatternMergeConstants& c) {
  const int32_t l = x.motif_length;
  if (std::ceil(c.alike_factor * l) >= L) return true;
  if (L <= l + c.replace_margin) return true;
  const int32_t remainder = L % l;
  const double e = std::ceil(c.replace_remainder * L);
  if (remainder > e && remainder < l - e) return false;
  if (L >= l * x.units) return false;
  if (l <= c.protected_motif) return false;
  return (L * repeat.units >= l * x.units && c.replace_score * x.score <= repeat.score) ||
         (L * repeat.units >= c.replace_length * l * x.units &&
          c.replace_long_score * x.score <= repeat.score);
}

}  // namespace rivulon
