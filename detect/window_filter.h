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

// GrowInSingleSlot: the drift may grow when the ring has a single slot.
// CountFirstBad: a bad window at p = 0 raises the longest bad run too.
template <bool GrowInSingleSlot, bool CountFirstBad>
class WindowFilter {
 public:
  // `ring` is scratch, resized here. s[n] must be the terminating NUL.
  WindowFilter(const char* s, int32_t n, int32_t L, int32_t w, int32_t k0, int32_t max_drift,
               std::vector<uint16_t>& ring)
      : s_(s), n_(n), L_(L), w_(w), k0_(k0), max_drift_(max_drift), slots_(L - w + 1) {
    ring.assign(static_cast<std::size_t>(slots_), 0);
    ring_ = ring.data();
  }

  // Window positions are visited while p < limit(); the bound shrinks with the drift.
  int64_t limit() const { return int64_t{n_} - (w_ + L_ - 1) - drift_; }

  // Moves to window p (p = 0, 1, 2, ... in order) and classifies it.
  void advance(int64_t p) {
    if (slot_ == longest_slot_) longest_ = 0;
    if (p == 0) {
      c0_ = count(0, L_);
      c1_ = count(0, L_ + 1);
      c2_ = 0;
    } else {
      // Inside the scan bounds the farthest partner is s[n], the terminating
      // NUL, which equals no base: the bytes are compared directly.
      const char* in = s_ + (p + w_ - 1);
      const char* out = s_ + (p - 1);
      const int64_t d = L_ + drift_;
      c0_ += (in[0] == in[d]) - (out[0] == out[d]);
      c1_ += (in[0] == in[d + 1]) - (out[0] == out[d + 1]);
      if (drift_ > 0) c2_ += (in[0] == in[d - 1]) - (out[0] == out[d - 1]);
    }
    if (ring_[slot_]) {
      ring_[slot_] = 0;
      --good_;
    }
    bool is_good = true;
    if (c0_ >= k0_) {
      // good at the present drift
    } else if (c1_ >= k0_ && drift_ < max_drift_ && (good_ > 0 || (GrowInSingleSlot && slots_ == 1))) {
      ++drift_;
      c2_ = c0_;
      c0_ = c1_;
      c1_ = count(p, L_ + drift_ + 1);
    } else if (drift_ > 0 && c2_ >= k0_) {
      --drift_;
      c1_ = c0_;
      c0_ = c2_;
      c2_ = drift_ > 0 ? count(p, L_ + drift_ - 1) : 0;  // only read while drifting
    } else {
      is_good = false;
      ++run_;
      if ((CountFirstBad || p > 0) && run_ > longest_) {
        longest_ = run_;
        if (run_ < slots_) longest_slot_ = slot_;
      }
    }
    if (is_good) {
      ring_[slot_] = 1;
      ++good_;
      run_ = 0;
    }
    slot_ = (slot_ + 1 == slots_) ? 0 : slot_ + 1;
  }

  // Back to drift 0 with fresh counts for window p, and a new bad run.
  void reset_drift(int64_t p) {
    drift_ = 0;
    c0_ = count(p, L_);
    c1_ = count(p, L_ + 1);
    c2_ = 0;
    run_ = 0;
  }

  int32_t good() const { return good_; }        // good windows in the ring
  int32_t longest() const { return longest_; }  // longest bad run within the ring
  int32_t drift() const { return drift_; }
  int32_t slots() const { return slots_; }      // L - w + 1

 private:
  // Matches between s[p + x] and s[p + x + distance] for x in [0, w).
  int32_t count(int64_t p, int64_t distance) const {
    int32_t c = 0;
    for (int32_t x = 0; x < w_; ++x) c += same_base(s_, n_, p + x, p + x + distance);
    return c;
  }

  const char* s_;
  int32_t n_, L_, w_, k0_, max_drift_, slots_;
  uint16_t* ring_ = nullptr;  // 16-bit flags: stores to them cannot alias the byte sequence or the counters
  int32_t slot_ = 0;  // ring slot of the current window, p mod (L - w + 1)
  int32_t drift_ = 0, good_ = 0, run_ = 0, longest_ = 0, longest_slot_ = 0;
  int32_t c0_ = 0, c1_ = 0, c2_ = 0;
};

}  // namespace rivulon
