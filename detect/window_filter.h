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

#include "driver/sequence.h"

namespace rivulon {

// What the filter knows after classifying window p.
struct WindowState {
  int32_t good;     // good windows in the ring (the copy's windows)
  int32_t longest;  // longest bad run within the ring
  int32_t slots;    // ring length, L - w + 1
};

// Visits window positions p = 0, 1, ... while p < n - (w + L - 1) - drift.
// After classifying window p it calls visit(p, state); when that returns true
// and the drift is above 0, the drift goes back to 0 with fresh counts for
// window p and a new bad run.
// GrowInSingleSlot: the drift may grow when the ring has a single slot.
// CountFirstBad: a bad window at p = 0 raises the longest bad run too.
// `ring` is scratch, resized here. s[n] must be the terminating NUL.
template <bool GrowInSingleSlot, bool CountFirstBad, typename Visit>
void scan_windows(const char* s, int32_t n, int32_t L, int32_t w, int32_t k0, int32_t max_drift,
                  std::vector<uint16_t>& ring_store, Visit visit) {
  const int32_t slots = L - w + 1;
  ring_store.assign(static_cast<std::size_t>(slots), 0);
  uint16_t* ring = ring_store.data();
  // Matches between s[p + x] and s[p + x + distance] for x in [0, w).
  auto count = [s, n, w](int64_t p, int64_t distance) {
    int32_t c = 0;
    for (int32_t x = 0; x < w; ++x) c += same_base(s, n, p + x, p + x + distance);
    return c;
  };

  int32_t drift = 0, good = 0, run = 0, longest = 0, longest_slot = 0, slot = 0;
  int32_t c0 = count(0, L), c1 = count(0, L + 1), c2 = 0;  // at distances L + drift, +1, -1
  for (int64_t p = 0; p < int64_t{n} - (w + L - 1) - drift; ++p) {
    if (slot == longest_slot) longest = 0;
    if (p > 0) {
      // Inside the scan bounds the farthest partner is s[n], the terminating
      // NUL, which equals no base: the bytes are compared directly.
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
      ++run;
      if ((CountFirstBad || p > 0) && run > longest) {
        longest = run;
        if (run < slots) longest_slot = slot;
      }
    }
    if (is_good) {
      ring[slot] = 1;
      ++good;
      run = 0;
    }
    if (visit(p, WindowState{good, longest, slots}) && drift > 0) {
      drift = 0;
      c0 = count(p, L);
      c1 = count(p, L + 1);
      c2 = 0;
      run = 0;
    }
    slot = (slot + 1 == slots) ? 0 : slot + 1;
  }
}

}  // namespace rivulon
