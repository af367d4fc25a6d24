#include "detect/window_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "reference/window_filter_reference.h"

namespace rivulon {
namespace {

struct Seen {
  int32_t good, longest;
};

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
  reference::scan_windows_reference<Grow, CountFirst>(seq, L, w, k0, max_drift, Recorder{&want});
  std::vector<uint16_t> ring;
  std::map<int64_t, bool> skipped;
  scan_windows<Grow, CountFirst>(SequenceView{seq.c_str(), static_cast<int32_t>(seq.size())}, L, w, k0,
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

// The run ahead sixteen windows at a time against one at a time, from counts
// far below, just below, at and above the floor, over repeats, random bases
// and runs of one base.
TEST(RunToGoodWindow, SameStopAndCountAsOneWindowAtATime) {
  std::mt19937 rng(77);
  for (int round = 0; round < 3000; ++round) {
    std::string s = test_sequence(rng);
    if (round % 5 == 0) s.replace(rng() % s.size(), 0, std::string(1 + rng() % 40, "ACGTN"[rng() % 5]));
    const auto n = static_cast<int64_t>(s.size());
    const int32_t L = 1 + static_cast<int32_t>(rng() % std::min<int64_t>(60, n / 2));
    const int32_t w = 1 + static_cast<int32_t>(rng() % std::min<int64_t>(40, n - L));
    const int64_t end = n - (w + L - 1);
    if (end < 2) continue;
    const int64_t from = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(end - 1));
    const int32_t k0 = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(w));
    const int32_t start = k0 + static_cast<int32_t>(rng() % 40) - 36;
    int32_t want = start, got = start;
    int64_t q = from;
    for (; q < end; ++q) {
      want += (s[q + w - 1] == s[q + w - 1 + L]) - (s[q - 1] == s[q - 1 + L]);
      if (want >= k0) break;
    }
    ASSERT_EQ(run_to_good_window(s.c_str(), from, end, w, L, k0, got), q) << round;
    ASSERT_EQ(got, want) << round;
  }
}

}  // namespace
}  // namespace rivulon
