// Speed of the copy alignment kernel, full and banded, for L = 20, 100, 500.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "align/copy_alignment.h"

namespace {

// Two adjacent copies of a random motif with about 10% substitutions.
std::string make_copies(int L) {
  std::mt19937 rng(42);
  const char bases[] = "ACGT";
  std::string motif(static_cast<size_t>(L), 'A');
  for (char& c : motif) c = bases[rng() % 4];
  std::string second = motif;
  for (char& c : second) {
    if (rng() % 10 == 0) c = bases[rng() % 4];
  }
  return motif + second;
}

void BM_AlignFull(benchmark::State& state) {
  const int L = static_cast<int>(state.range(0));
  const std::string s = make_copies(L);
  rivulon::AlignmentMatrix matrix(500);
  int32_t origin = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rivulon::align_copies(s.data(), static_cast<int64_t>(s.size()), -1, L,
                                                   1, origin, matrix, -7, -3, -7, 2));
  }
}

void BM_AlignBanded(benchmark::State& state) {
  const int L = static_cast<int>(state.range(0));
  const std::string s = make_copies(L);
  rivulon::AlignmentMatrix matrix(500);
  int32_t origin = 0;
  const int32_t h = rivulon::copy_band_half_width(L);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rivulon::align_copies_banded(
        s.data(), static_cast<int64_t>(s.size()), -1, L, 1, origin, matrix, h, -7, -3, -7, 2));
  }
}

}  // namespace

BENCHMARK(BM_AlignFull)->Arg(20)->Arg(100)->Arg(500);
BENCHMARK(BM_AlignBanded)->Arg(20)->Arg(100)->Arg(500);
BENCHMARK_MAIN();
