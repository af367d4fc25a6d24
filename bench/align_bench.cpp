// Speed of the copy alignment kernel, full and banded (with origins or
// without, as the screening asks), for L = 20, 100, 500,
// and of the pattern kernel's variants on a tandem array of ten copies.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "align/copy_alignment.h"
#include "align/pattern_kernels.h"

namespace {

// Match 2, mismatch 7, gap 7, terminal gap 3.
constexpr rivulon::Scoring kScoring{2, -7, -7, -3};

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
  const rivulon::SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
  for (auto _ : state) {
    benchmark::DoNotOptimize(rivulon::align_copies(seq, -1, L, 1, kScoring, matrix));
  }
}

// The banded scoring: the kernel the detectors run (vectorised where the
// processor allows) or the plain row-by-row one.
template <bool Plain>
void BM_AlignBanded(benchmark::State& state) {
  const int L = static_cast<int>(state.range(0));
  const std::string s = make_copies(L);
  rivulon::AlignmentMatrix matrix(500);
  const rivulon::SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
  const int32_t h = rivulon::copy_band_half_width(L);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Plain ? rivulon::align_copies_banded_plain(seq, -1, L, 1, h, kScoring, matrix)
                                   : rivulon::align_copies_banded(seq, -1, L, 1, h, kScoring, matrix));
  }
}

// The screening's question, whether a pair reaches a similarity the copies
// pass: the fill without origins (16-bit lanes where the scores fit) against
// the one with them (32-bit lanes), neither stopping early.
template <bool Origins>
void BM_ScoreBandedReaches(benchmark::State& state) {
  const int L = static_cast<int>(state.range(0));
  const std::string s = make_copies(L);
  rivulon::AlignmentMatrix matrix(500);
  const rivulon::SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
  for (auto _ : state) {
    if (Origins) {
      benchmark::DoNotOptimize(rivulon::copy_similarity_at_least(seq, -1, L, 1, 0, kScoring, matrix, 0.5));
    } else {
      benchmark::DoNotOptimize(rivulon::copy_score_at_least(seq, -1, L, 1, 0, kScoring, matrix, 0.5));
    }
  }
}

// Ten copies of a motif (10% substitutions) against the motif: the plain
// rows or the AVX2 ones.
template <bool Plain>
void BM_ScorePattern(benchmark::State& state) {
  const int L = static_cast<int>(state.range(0));
  std::string s = make_copies(L);
  for (int k = 0; k < 4; ++k) s += make_copies(L);
  rivulon::PatternWorkspace ws(500);
  const rivulon::SequenceView seq{s.data(), static_cast<int32_t>(s.size())};
  const auto H = static_cast<int32_t>(s.size());
  if (!Plain && !rivulon::pattern_avx2_available()) state.SkipWithError("no AVX2");
  for (auto _ : state) {
    benchmark::DoNotOptimize(Plain ? rivulon::score_against_pattern_rows(seq, -1, H, s.data(), L, kScoring, 50, ws)
                                   : rivulon::score_against_pattern_avx2(seq, -1, H, s.data(), L, kScoring, 50, ws));
  }
  state.SetItemsProcessed(state.iterations() * int64_t{H} * L);  // cells
}

}  // namespace

BENCHMARK_TEMPLATE(BM_ScorePattern, true)->Arg(4)->Arg(6)->Arg(8)->Arg(12)->Arg(16)->Arg(32)->Arg(100)->Arg(500);
BENCHMARK_TEMPLATE(BM_ScorePattern, false)->Arg(4)->Arg(6)->Arg(8)->Arg(12)->Arg(16)->Arg(32)->Arg(100)->Arg(500);
BENCHMARK(BM_AlignFull)->Arg(20)->Arg(100)->Arg(500);
BENCHMARK_TEMPLATE(BM_AlignBanded, false)->Arg(20)->Arg(100)->Arg(500);
BENCHMARK_TEMPLATE(BM_AlignBanded, true)->Arg(20)->Arg(100)->Arg(500);
BENCHMARK_TEMPLATE(BM_ScoreBandedReaches, true)->Arg(100)->Arg(500);
BENCHMARK_TEMPLATE(BM_ScoreBandedReaches, false)->Arg(100)->Arg(500);
BENCHMARK_MAIN();
