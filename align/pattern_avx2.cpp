// score_against_pattern in eight 32-bit lanes (AVX2). A row is filled in
// three steps that give the reference's values and origins:
// 1. every column at once from the row above: t = max(diag, up), diag on a
//    tie, and 0 with this row as origin when t <= 0; a column c is flagged
//    when t'[c-1] + gap > t'[c] (t' the clamped values), the only place a
//    chain of moves 2 can start;
// 2. the chains, in plain code from each flagged column: a cell takes its
//    left neighbour + gap (and its origin) while that is strictly higher,
//    which is the reference's choice (a move 2 only when it beats both the
//    diagonal and the upper cell, and 0);
// 3. the best cell (the last of the row's highest, when that reaches the
//    best so far) and the wrap-around pass, both in plain code.
#include <immintrin.h>

#include <cstring>

#include "align/lanes.h"
#include "align/pattern_kernels.h"

namespace rivulon {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

constexpr int32_t kWidth = 8;
using lanes::Lanes;
using lanes::load;
using lanes::splat;
using lanes::store;

#define RIVULON_AVX2 __attribute__((target("avx2"), always_inline)) inline
// Bit k set when lane k of a comparison is true.
RIVULON_AVX2 uint32_t bits(Lanes mask) {
  return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(reinterpret_cast<__m256i>(mask))));
}
RIVULON_AVX2 Lanes lane_max(Lanes a, Lanes b) { return a > b ? a : b; }
#undef RIVULON_AVX2

constexpr int32_t kPastEndRow = -1;      // a stretch position beyond the sequence
constexpr int32_t kPastEndPattern = -2;  // never equal to a row's base

// The rows' arrays in ws.lanes, each of `span` cells: column c at index c.
struct Rows {
  int32_t *prev, *cur, *prev_org, *cur_org, *pattern;
};

// Step 1 of row r: columns 1..L (and the padding lanes after L, which no
// real column reads) from the row above, their flags into `flags`; returns
// the highest value of columns 1..L.
__attribute__((target("avx2"))) int32_t fill_lanes(int32_t r, int32_t x, int32_t L, const Scoring& scoring,
                                                    const Rows& a, uint32_t* flags) {
  const Lanes base = splat(x), match = splat(scoring.match), mismatch = splat(scoring.mismatch),
              gap = splat(scoring.gap), zero = splat(0), row = splat(r);
  Lanes highest = zero;
  a.cur[0] = 0;  // column 0 of the row being filled reads 0
  // Local copies: the stores below could alias the row pointers otherwise.
  const int32_t *prev = a.prev, *prev_org = a.prev_org, *pattern = a.pattern;
  int32_t *cur = a.cur, *cur_org = a.cur_org;
  const __m256i one_back = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6), last_lane = _mm256_set1_epi32(7);
  const Lanes first_lane = Lanes{-1, 0, 0, 0, 0, 0, 0, 0};
  Lanes before = zero;  // every lane: the value of the column before the chunk
  const int32_t last = L - (L - 1) % kWidth;  // the first column of the last chunk
  for (int32_t c = 1, chunk = 0; c <= L; c += kWidth, ++chunk) {
    const Lanes diag = load(prev + c - 1) + (load(pattern + c) == base ? match : mismatch);
    const Lanes up = load(prev + c) + gap;
    const Lanes up_wins = up > diag;
    const Lanes t = up_wins ? up : diag;
    const Lanes origin = up_wins ? load(prev_org + c) : load(prev_org + c - 1);
    const Lanes positive = t > zero;
    const Lanes value = positive ? t : zero;
    store(cur + c, value);
    store(cur_org + c, positive ? origin : row);
    // The values one column back, from the registers (a load of what was
    // just stored, one lane off, would wait for the store).
    const __m256i v = reinterpret_cast<__m256i>(value);
    const Lanes left = first_lane ? before : reinterpret_cast<Lanes>(_mm256_permutevar8x32_epi32(v, one_back));
    flags[chunk] = bits(left + gap > value);
    before = reinterpret_cast<Lanes>(_mm256_permutevar8x32_epi32(v, last_lane));
    if (c < last) highest = lane_max(highest, value);
  }
  int32_t out = 0;
  for (int k = 0; k < kWidth; ++k) out = std::max(out, highest[k]);
  for (int32_t c = last; c <= L; ++c) out = std::max(out, a.cur[c]);
  return out;
}

// The last of columns 1..L that holds `value`, by chunks from the end.
__attribute__((target("avx2"))) int32_t last_column_of(int32_t value, int32_t L, const int32_t* cur) {
  const int32_t last = L - (L - 1) % kWidth;
  for (int32_t c = L; c >= last; --c) {
    if (cur[c] == value) return c;
  }
  const Lanes wanted = splat(value);
  for (int32_t c = last - kWidth; c >= 1; c -= kWidth) {
    const uint32_t found = bits(load(cur + c) == wanted);
    if (found != 0) return c + 31 - __builtin_clz(found);
  }
  return 0;
}

// Step 2: the chains of moves 2, in the chunks where one starts (a flag) or
// runs in from the chunk before. In a chunk, each lane takes the best of its
// own value and those of the lanes before it (and of the column before the
// chunk, final) less gap for each column between, the nearer on a tie: a
// prefix scan in three shifts, the same as the reference's left-to-right
// moves 2. Returns the highest value of columns 1..L after the chains, given
// `highest` before them.
__attribute__((target("avx2"))) int32_t chain_row(int32_t L, int32_t gap, const Rows& a, const uint32_t* flags,
                                                   int32_t highest) {
  static const Lanes kLane = {0, 1, 2, 3, 4, 5, 6, 7};
  int32_t *cur = a.cur, *cur_org = a.cur_org;
  const int32_t chunks = (L + kWidth - 1) / kWidth;
  Lanes raised = splat(0);  // the highest of the chunks' values after their chains (full chunks)
  bool running = false;     // the last column of the chunk before was raised
  for (int32_t chunk = 0; chunk < chunks; ++chunk) {
    if (flags[chunk] == 0 && !running) continue;
    const int32_t c = chunk * kWidth + 1;
    Lanes value = load(cur + c), origin = load(cur_org + c);
    const int32_t was_last = value[kWidth - 1];
    for (int32_t shift = 1; shift < kWidth; shift *= 2) {
      const Lanes from = kLane - shift;  // lane k reads lane k - shift
      const __m256i index = reinterpret_cast<__m256i>(from > splat(-1) ? from : splat(0));
      const Lanes moved =
          reinterpret_cast<Lanes>(_mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(value), index)) +
          splat(shift * gap);
      const Lanes moved_origin =
          reinterpret_cast<Lanes>(_mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(origin), index));
      const Lanes take = (moved > value) & (kLane >= splat(shift));
      value = take ? moved : value;
      origin = take ? moved_origin : origin;
    }
    const Lanes carried = splat(cur[c - 1]) + (kLane + splat(1)) * splat(gap);
    const Lanes take = carried > value;
    value = take ? carried : value;
    origin = take ? splat(cur_org[c - 1]) : origin;
    store(cur + c, value);
    store(cur_org + c, origin);
    running = value[kWidth - 1] != was_last;
    if (c + kWidth - 1 <= L) {
      raised = lane_max(raised, value);
    } else {
      for (int32_t k = 0; c + k <= L; ++k) highest = std::max(highest, value[k]);
    }
  }
  for (int k = 0; k < kWidth; ++k) highest = std::max(highest, raised[k]);
  return highest;
}

}  // namespace

PatternScore score_against_pattern_avx2(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                        const Scoring& scoring, double threshold, PatternWorkspace& ws) {
  const int32_t chunks = (L + kWidth - 1) / kWidth;
  const size_t span = static_cast<size_t>(chunks * kWidth + kWidth);  // columns 0..L and the padding
  if (ws.lanes.size() < 5 * span) ws.lanes.resize(5 * span);
  if (ws.flags.size() < static_cast<size_t>(chunks)) ws.flags.resize(static_cast<size_t>(chunks));
  int32_t* base = ws.lanes.data();
  Rows a{base, base + span, base + 2 * span, base + 3 * span, base + 4 * span};
  std::fill(base, base + 4 * span, 0);
  for (int32_t c = 1; c <= L; ++c) a.pattern[c] = static_cast<unsigned char>(pattern[c - 1]);
  std::fill(a.pattern + L + 1, a.pattern + span, kPastEndPattern);
  const int32_t gap = scoring.gap;
  int64_t best_value = 0;
  int32_t best_row = 0, best_first = 0;
  for (int32_t r = 1; r <= H; ++r) {
    const int64_t at = row_offset + r;
    const int32_t x = at < seq.n ? static_cast<unsigned char>(seq.bases[at]) : kPastEndRow;
    int32_t highest = fill_lanes(r, x, L, scoring, a, ws.flags.data());
    highest = chain_row(L, gap, a, ws.flags.data(), highest);  // step 2
    // Step 3: the best cell of the first pass, then the wrap-around.
    const bool moved = highest >= best_value;
    const int32_t at_col = moved ? last_column_of(highest, L, a.cur) : 0;
    if (moved) {
      best_value = highest;
      best_row = r;
    }
    a.cur[0] = a.cur[L];
    for (int32_t c = 1; c <= L; ++c) {
      const int32_t carried = a.cur[c - 1] + gap;
      if (!(carried > a.cur[c])) break;
      a.cur[c] = carried;
      a.cur_org[c] = a.cur_org[c == 1 ? L : c - 1];
    }
    a.cur_org[0] = a.cur_org[L];  // the next row's diagonal into column 1
    if (moved) best_first = a.cur_org[at_col];
    std::swap(a.prev, a.cur);
    std::swap(a.prev_org, a.cur_org);
    if (r % kBoundRows == 0 && !can_reach(a.prev, L, best_value, H - r, scoring.match, threshold)) {
      return PatternScore{static_cast<double>(best_value), 0, 0, 0};
    }
  }
  PatternScore result;
  result.score = static_cast<double>(best_value);
  if (result.score < threshold) return result;
  result.first_row = best_first;
  result.last_row = best_row;
  result.aligned_length = best_row - best_first;
  return result;
}

bool pattern_avx2_available() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#else

PatternScore score_against_pattern_avx2(SequenceView seq, int64_t row_offset, int32_t H, const char* pattern, int32_t L,
                                        const Scoring& scoring, double threshold, PatternWorkspace& ws) {
  return score_against_pattern_rows(seq, row_offset, H, pattern, L, scoring, threshold, ws);
}

bool pattern_avx2_available() { return false; }

#endif

}  // namespace rivulon
