// Reference for the sliding-window filter of detect/window_filter.h: every
// window visited in turn, without running ahead through windows that no
// quota can see, and the window counts kept in plain ints.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "detect/window_filter.h"

namespace rivulon::reference {

// The filter window by window, without running ahead: every window is visited.
template <bool GrowInSingleSlot, bool CountFirstBad, typename Visit>
void scan_windows_reference(const std::string& seq, int32_t L, int32_t w, int32_t k0,
                            int32_t max_drift, Visit visit) {
  const char* s = seq.c_str();
  const int32_t n = static_cast<int32_t>(seq.size());
  const int32_t slots = L - w + 1;
  std::vector<int> ring(static_cast<size_t>(slots), 0);
  auto count = [&](int64_t p, int64_t d) {
    int32_t c = 0;
    for (int32_t x = 0; x < w; ++x) c += same_base(s, n, p + x, p + x + d);
    return c;
  };
  int32_t drift = 0, good = 0, run = 0, longest = 0, longest_slot = 0, c0 = 0, c1 = 0, c2 = 0;
  for (int64_t p = 0; p < n - (w + L - 1) - drift; ++p) {
    const int32_t r = static_cast<int32_t>(p % slots);
    if (r == longest_slot) longest = 0;
    if (p == 0) {
      c0 = count(0, L);
      c1 = count(0, L + 1);
      c2 = 0;
    } else {
      const int64_t in = p + w - 1, out = p - 1, d = L + drift;
      c0 += same_base(s, n, in, in + d) - same_base(s, n, out, out + d);
      c1 += same_base(s, n, in, in + d + 1) - same_base(s, n, out, out + d + 1);
      if (drift > 0) c2 += same_base(s, n, in, in + d - 1) - same_base(s, n, out, out + d - 1);
    }
    if (ring[static_cast<size_t>(r)]) {
      ring[static_cast<size_t>(r)] = 0;
      --good;
    }
    bool is_good = true;
    if (c0 >= k0) {
    } else if (c1 >= k0 && drift < max_drift && (good > 0 || (GrowInSingleSlot && slots == 1))) {
      ++drift;
      c2 = c0;
      c0 = c1;
      c1 = count(p, L + drift + 1);
    } else if (drift > 0 && c2 >= k0) {
      --drift;
      c1 = c0;
      c0 = c2;
      c2 = count(p, L + drift - 1);
    } else {
      is_good = false;
      ++run;
      if ((CountFirstBad || p > 0) && run > longest) {
        longest = run;
        if (run < slots) longest_slot = r;
      }
    }
    if (is_good) {
      ring[static_cast<size_t>(r)] = 1;
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
  }
}

}  // namespace rivulon::reference
