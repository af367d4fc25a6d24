#include "detect/window_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace rivulon {
namespace {

struct Seen {
  int32_t good, longest;
};

// The filter window by window, without running ahead: every window is visited.
template <bool GrowInSingleSlot, bool CountFirstBad, typename Visit>
void reference_scan(const std::string& seq, int32_t L, int32_t w, int32_t k0, int32_t max_drift,
                    Visit visit) {
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

// A visitor that accepts some windows with a good window in the ring, so that
// drift resets happen at varied places; it records what it saw.
struct Recorder {
  std::map<int64_t, Seen>* seen;
  bool operator()(int64_t p, WindowState f) const {
    (*seen)[p] = {f.good, f.longest};
    return f.good >= 1 && (p * 7 + f.good) % 3 == 0;
  }
};

template <bool Grow, bool CountFirst>
void compare(const std::string& seq, int32_t L, int32_t w, int32_t k0, int32_t max_drift) {
  std::map<int64_t, Seen> want, got;
  reference_scan<Grow, CountFirst>(seq, L, w, k0, max_drift, Recorder{&want});
  std::vector<uint16_t> ring;
  std::map<int64_t, bool> skipped;
  scan_windows<Grow, CountFirst>(seq.c_str(), static_cast<int32_t>(seq.size()), L, w, k0,
                                 max_drift, ring, Recorder{&got}, [&](int64_t p, int64_t count) {
                                   for (int64_t i = 0; i < count; ++i) skipped[p + i] = true;
                                 });
  ASSERT_EQ(want.size(), got.size() + skipped.size()) << "L " << L << " w " << w;
  for (const auto& [p, seen] : want) {
    if (skipped.count(p)) {
      ASSERT_EQ(seen.good, 0) << "p " << p;  // nothing can qualify there
      ASSERT_EQ(got.count(p), 0u);
    } else {
      ASSERT_EQ(got.count(p), 1u) << "p " << p;
      ASSERT_EQ(got[p].good, seen.good) << "p " << p << " L " << L;
      ASSERT_EQ(got[p].longest, seen.longest) << "p " << p << " L " << L << " w " << w;
    }
  }
}

std::string test_sequence(std::mt19937& rng) {
  const int n = 30 + static_cast<int>(rng() % 600);
  std::string s;
  const char* bases = "ACGT";
  while (static_cast<int>(s.size()) < n) {
    if (rng() % 2) {
      const int L = 1 + static_cast<int>(rng() % 40);
      std::string motif;
      for (int i = 0; i < L; ++i) motif += bases[rng() % 4];
      const int copies = 2 + static_cast<int>(rng() % 10);
      for (int c = 0; c < copies; ++c) {
        for (char b : motif) {
          const int roll = static_cast<int>(rng() % 30);
          if (roll == 0) continue;  // deletion
          s += roll == 1 ? bases[rng() % 4] : b;
          if (roll == 2) s += bases[rng() % 4];  // insertion
        }
      }
    } else {
      for (int i = 0; i < 20; ++i) s += bases[rng() % 4];
    }
  }
  return s;
}

TEST(ScanWindows, RunningAheadChangesNothingAQuotaCouldSee) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 600; ++round) {
    const std::string s = test_sequence(rng);
    const int32_t L = 1 + static_cast<int32_t>(rng() % std::min<size_t>(60, s.size() / 2));
    const int32_t w = L <= 3 ? L : 1 + static_cast<int32_t>(rng() % ((L + 1) / 2));
    const int32_t k0 = 1 + static_cast<int32_t>(rng() % w);
    const int32_t max_drift = 1 + static_cast<int32_t>(rng() % 4);
    compare<false, false>(s, L, w, k0, max_drift);
    compare<true, true>(s, L, w, k0, max_drift);
  }
}

}  // namespace
}  // namespace rivulon
