// Motif lengths searched on several threads: their results are taken up in
// increasing length whatever the number of threads, a failure in the taking
// up ends the detection there, a search's exception reaches the caller, and
// the work spaces go back to the shelf.
#include "detect/lengths_in_parallel.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace rivulon {
namespace {

struct CountingWorker {
  int32_t lengths = 0;
};

TEST(SearchLengths, TakenUpInOrderEndedByAFailureOrAThrow) {
  std::mt19937 rng(3);
  std::string s;
  for (int i = 0; i < 400; ++i) s += "ACGT"[rng() % 4];
  constexpr int32_t kM = 40;
  for (int32_t threads : {1, 2, 5}) {
    DetectionInput in{{s.c_str(), static_cast<int32_t>(s.size())}, Scoring{2, -7, -7, -3}, 0.8, kM, 0.25};
    in.threads = threads;
    std::atomic<int32_t> done{0};
    in.lengths_done = &done;
    std::vector<std::unique_ptr<CountingWorker>> shelf;
    auto prepare = [](std::unique_ptr<CountingWorker>& worker) {
      if (!worker) worker = std::make_unique<CountingWorker>();
    };
    int32_t throw_at = 0, fail_at = 0;
    auto search = [&](CountingWorker& worker, int32_t L, const WindowParameters&, std::vector<int32_t>& found) {
      if (L == throw_at) throw std::runtime_error("search");
      ++worker.lengths;
      found.assign(3, L);
    };
    std::vector<int32_t> order;
    auto take_up = [&](int32_t L, const WindowParameters&,
                       std::vector<int32_t>& found) -> std::optional<DetectionFailure> {
      EXPECT_EQ(found, std::vector<int32_t>(3, L));
      order.push_back(L);
      if (L == fail_at) return DetectionFailure{DetectionFailure::Cause::kInternalCheck, L, 0};
      return std::nullopt;
    };
    auto run = [&] {
      order.clear();
      return search_lengths<CountingWorker, std::vector<int32_t>>(in, kDefinition1Screening, shelf, prepare,
                                                                  search, take_up);
    };

    EXPECT_FALSE(run()) << threads;
    std::vector<int32_t> all(kM);
    for (int32_t L = 1; L <= kM; ++L) all[static_cast<size_t>(L - 1)] = L;
    EXPECT_EQ(order, all) << threads;
    EXPECT_EQ(done.load(), kM);
    int32_t searched = 0;
    for (const auto& worker : shelf) searched += worker->lengths;
    EXPECT_EQ(searched, kM);
    EXPECT_LE(shelf.size(), static_cast<size_t>(threads) + 1);  // the pool's threads and this one

    fail_at = 17;
    const std::optional<DetectionFailure> failure = run();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->motif_length, 17);
    EXPECT_EQ(order.size(), 17u);
    EXPECT_EQ(done.load(), kM + 16);

    fail_at = 0;
    throw_at = 9;
    EXPECT_THROW(run(), std::runtime_error) << threads;
    EXPECT_LE(order.size(), 8u);
  }
}

}  // namespace
}  // namespace rivulon
