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

void merge_candidates(const CandidateList& candidates, RecordTable& table, int32_t n, int32_t L,
                      const MergeConstants& c) {
  for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
    const CandidateRepeat& k = *it;
    const uint32_t head = static_cast<uint32_t>(k.start);
    if (table.at(head).motif_length != 0) {
      bool dominated = false;
      for (uint32_t x = head;; x = table.at(x).next) {
        if (is_dominated(k, table.at(x), L, c)) {
          dominated = true;
          break;
        }
        if (table.at(x).next == kNoRecord) break;
      }
      if (dominated) continue;
    }
    const int32_t reach = L > 3 ? L : 2 * L;
    const int64_t first = -static_cast<int64_t>(std::min(k.start, reach));
    const int64_t last = int64_t{k.units - 1} * L - 1;
    for (int64_t o = first; o <= last; ++o) {
      const int64_t pos = k.start + o;
      if (pos >= n) break;
      uint32_t chosen = static_cast<uint32_t>(pos);
      if (table.at(chosen).motif_length != 0) {
        for (uint32_t x = chosen;; x = table.at(x).next) {
          const RepeatRecord& rec = table.at(x);
          if (may_replace(k, rec, L, c) && (rec.offset != 0 || o != 0)) {
            chosen = x;
            break;
          }
          if (rec.next == kNoRecord) {
            chosen = table.append_after(x);
            break;
          }
        }
      }
      RepeatRecord& out = table.at(chosen);
      out.motif_length = L;
      out.offset = static_cast<int32_t>(o);
      out.units = k.units;
      out.similarity = k.similarity;
      out.listed = (o == 0) ? 1 : 0;
    }
  }
}

}  // namespace rivulon
