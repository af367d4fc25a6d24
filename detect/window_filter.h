// The sliding-window filter that all three detectors screen with.
//
// Window p covers s[p .. p+w-1]; each of its positions is compared with the
// position L + drift further on. A window is good with at least k0 matches.
// The drift follows insertions in the next copy: it grows by one when the
// window is good one position further on (while another good window is in
// the ring, or, where allowed, when the ring has a single slot) and shrinks by
// one when it is good one position nearer. A ring of L - w + 1 flags holds the
// good windows of the copy under test; the longest bad run is remembered
// together with the ring slot where it was last raised and forgotten when the
// ring comes back to that slot.
#pragma once
#include <cstdint>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "align/sequence.h"

namespace rivulon {

// Runs a window count at distance L forward: window q's count is that of
// window q - 1 (`count` on the way in) plus [s[q+w-1] == s[q+w-1+L]] minus
// [s[q-1] == s[q-1+L]]. Returns the first q in [from, end) whose count
// reaches k0, with `count` set to it; `end` when there is none, with `count`
// set to window end - 1's. Every byte read, up to s[end + w + L - 2], must
// exist; from >= 1.
inline int64_t run_to_good_window(const char* s, int64_t from, int64_t end, int32_t w, int32_t L,
                                  int32_t k0, int32_t& count) {
  int64_t q = from;
  int32_t c = count;
#if defined(__SSE2__)
  // Sixteen windows at a time: the changes of their counts, summed into
  // running totals in the lanes (four shifted adds), then compared with what
  // the count lacks. Totals lie within [-16, 16]: no lane overflows.
  for (; q + 16 <= end; q += 16) {
    auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    const char* in = s + (q + w - 1);
    const char* out = s + (q - 1);
    // cmpeq gives -1 for equal bytes: (-leaving) - (-entering) = entering - leaving.
    __m128i sum = _mm_sub_epi8(_mm_cmpeq_epi8(load(out), load(out + L)),
                               _mm_cmpeq_epi8(load(in), load(in + L)));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 1));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 2));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 4));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 8));
    alignas(16) int8_t totals[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(totals), sum);
    const int32_t lacking = k0 - c;  // a lane reaches k0 when its total is at least this
    if (lacking <= 16) {
      const int32_t bar = (lacking < -16 ? -16 : lacking) - 1;
      const int reached = _mm_movemask_epi8(_mm_cmpgt_epi8(sum, _mm_set1_epi8(static_cast<char>(bar))));
      if (reached != 0) {
        const int lane = __builtin_ctz(static_cast<unsigned>(reached));
        count = c + totals[lane];
        return q + lane;
      }
    }
    c += totals[15];
  }
#endif
  for (; q < end; ++q) {
    const char* in = s + (q + w - 1);
    const char* out = s + (q - 1);
    c += (in[0] == in[L]) - (out[0] == out[L]);
    if (c >= k0) break;
  }
  count = c;
  return q;
}

// What the filter knows after classifying window p.
struct WindowState {
  int32_t good;     // good windows in the ring (the copy's windows)
  int32_t longest;  // longest bad run within the ring
  int32_t slots;    // ring length, L - w + 1
};

// Bad-run bookkeeping of the filter: the current run of bad windows and the
// longest one within the ring, with the slot where it was last raised.
struct BadRuns {
  int32_t run = 0, longest = 0, longest_slot = 0;

  // Window in `slot` was bad; `counted` is false only for a first window
  // whose bad run does not count.
  void bad(int32_t slot, int32_t slots, bool counted) {
    ++run;
    if (counted && run > longest) {
      longest = run;
      if (run < slots) longest_slot = slot;
    }
  }

  // `count` bad windows in a row starting at `slot` (advanced past them). Once
  // the longest run is the current one and no shorter than the ring, every
  // further bad window just extends both, so the rest is added at once.
  void skip_bad(int32_t& slot, int32_t slots, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
      if (run >= slots && longest == run) {
        run += static_cast<int32_t>(count - i);
        longest = run;
        slot = static_cast<int32_t>((slot + (count - i)) % slots);
        return;
      }
      if (slot == longest_slot) longest = 0;
      bad(slot, slots, true);
      slot = (slot + 1 == slots) ? 0 : slot + 1;
    }
  }
};

// Visits window positions p = 0, 1, ... while p < n - (w + L - 1) - drift.
// After classifying window p it calls visit(p, state); when that returns true
// and the drift is above 0, the drift goes back to 0 with fresh counts for
// window p and a new bad run.
//
// While the ring holds no good window and the drift is 0, no copy can
// qualify (every quota is at least 1) and only a window good at distance L
// changes that, so the scan runs ahead to the next such window and calls
// skip(p, count) for the `count` bad windows from p on instead of visiting them.
//
// GrowInSingleSlot: the drift may grow when the ring has a single slot.
// CountFirstBad: a bad window at p = 0 raises the longest bad run too.
// `ring` is scratch, resized here. The sequence's bases[n] must be its terminating NUL.
template <bool GrowInSingleSlot, bool CountFirstBad, typename Visit, typename Skip>
void scan_windows(SequenceView seq, int32_t L, int32_t w, int32_t k0, int32_t max_drift,
                  std::vector<uint16_t>& ring_store, Visit visit, Skip skip) {
  const char* s = seq.bases;
  const int32_t n = seq.n;
  const int32_t slots = L - w + 1;
  ring_store.assign(static_cast<std::size_t>(slots), 0);
  uint16_t* ring = ring_store.data();
  // Matches between s[p + x] and s[p + x + distance] for x in [0, w).
  auto count = [s, n, w](int64_t p, int64_t distance) {
    int32_t c = 0;
    for (int32_t x = 0; x < w; ++x) c += same_base(s, n, p + x, p + x + distance);
    return c;
  };
  // With a single slot a window good one position further on may start a drift.
  const bool can_skip = !(GrowInSingleSlot && slots == 1);
  const int64_t end = int64_t{n} - (w + L - 1);  // scan bound at drift 0

  int32_t drift = 0, good = 0, slot = 0;
  BadRuns bad;
  int32_t c0 = count(0, L), c1 = count(0, L + 1), c2 = 0;  // at distances L + drift, +1, -1
  for (int64_t p = 0; p < end - drift; ++p) {
    bool counted = false;  // c0 and c1 already hold window p's counts
    if (can_skip && p > 0 && good == 0 && drift == 0) {
      // Run ahead to the next window good at distance L. Inside the scan
      // bounds the farthest partner is s[n], the terminating NUL, which
      // equals no base: the bytes are compared directly.
      int32_t c = c0;
      const int64_t q = run_to_good_window(s, p, end, w, L, k0, c);
      if (q > p) {
        bad.skip_bad(slot, slots, q - p);
        skip(p, q - p);
      }
      if (q == end) return;
      p = q;
      c0 = c;
      c1 = count(p, L + 1);
      counted = true;
    }
    if (slot == bad.longest_slot) bad.longest = 0;
    if (p > 0 && !counted) {
      const char* in = s + (p + w - 1);
      const char* out = s + (p - 1);
      const int64_t d = L + drift;
      c0 += (in[0] == in[d]) - (out[0] == out[d]);
      c1 += (in[0] == in[d + 1]) - (out[0] == out[d + 1]);
      if (drift > 0) c2 += (in[0] == in[d - 1]) - (out[0] == out[d - 1]);
    }
    good -= ring[slot];
    ring[slot] = 0;
    bool is_good = true;
    if (c0 >= k0) {
      // good at the present drift
    } else if (c1 >= k0 && drift < max_drift && (good > 0 || (GrowInSingleSlot && slots == 1))) {
      ++drift;
      c2 = c0;
      c0 = c1;
      c1 = count(p, L + drift + 1);
    } else if (drift > 0 && c2 >= k0) {
      --drift;
      c1 = c0;
      c0 = c2;
      c2 = drift > 0 ? count(p, L + drift - 1) : 0;  // only read while drifting
    } else {
      is_good = false;
      bad.bad(slot, slots, CountFirstBad || p > 0);
    }
    if (is_good) {
      ring[slot] = 1;
      ++good;
      bad.run = 0;
    }
    if (visit(p, WindowState{good, bad.longest, slots}) && drift > 0) {
      drift = 0;
      c0 = count(p, L);
      c1 = count(p, L + 1);
      c2 = 0;
      bad.run = 0;
    }
    slot = (slot + 1 == slots) ? 0 : slot + 1;
  }
}

}  // namespace rivulon
