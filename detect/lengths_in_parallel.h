// The frame of a detection whose motif lengths are searched on several
// threads: each length's search reads only the sequence and a work space of
// its own and fills a result of its own, so lengths may run at once; the
// results are taken up in increasing length on the calling thread, which is
// where everything that carries over from one length to the next lives.
// The bytes found are the same whatever the number of threads.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "detect/detection.h"
#include "rivulon/executor.h"

namespace rivulon {

// For L = 1 .. M: search(worker, L, parameters, result) then, in this order
// on this thread, take_up(L, parameters, result), which may end the detection
// with a failure. The screening parameters of every length come first: a
// length without a quota ends the detection before anything else is done,
// as it would at its turn. Work spaces come from `spare` (kept in the
// caller's scratch between calls); `prepare` makes or grows one to fit. A
// search fills its result from scratch (it may be handed one used before);
// take_up may keep nothing of it.
template <typename Worker, typename Found, typename Prepare, typename Search, typename TakeUp>
std::optional<DetectionFailure> search_lengths(const DetectionInput& in, const ScreeningRule& rule,
                                               std::vector<std::unique_ptr<Worker>>& spare,
                                               Prepare prepare, Search search, TakeUp take_up) {
  const int32_t M = in.max_motif;
  std::vector<WindowParameters> parameters(static_cast<size_t>(M) + 1);
  const std::optional<DetectionFailure> no_quota =
      for_each_motif_length(in, rule, [&](int32_t L, const WindowParameters& wp) {
        parameters[static_cast<size_t>(L)] = wp;
        return std::optional<DetectionFailure>();
      });
  if (no_quota) return no_quota;

  std::mutex spare_lock;
  auto take_worker = [&] {
    std::unique_ptr<Worker> worker;
    {
      std::lock_guard<std::mutex> guard(spare_lock);
      if (!spare.empty()) {
        worker = std::move(spare.back());
        spare.pop_back();
      }
    }
    prepare(worker);
    return worker;
  };
  auto give_back = [&](std::unique_ptr<Worker> worker) {
    std::lock_guard<std::mutex> guard(spare_lock);
    spare.push_back(std::move(worker));
  };
  auto cancelled_at = [](int32_t L) { return DetectionFailure{DetectionFailure::Cause::kCancelled, L, 0}; };

  const int32_t threads = in.executor != nullptr ? in.executor->threads() : in.threads;
  if (std::min(threads, M) <= 1) {
    std::unique_ptr<Worker> worker = take_worker();
    Found found;
    std::optional<DetectionFailure> failure;
    for (int32_t L = 1; L <= M; ++L) {
      const WindowParameters& wp = parameters[static_cast<size_t>(L)];
      if (cancelled(in)) {
        failure = cancelled_at(L);
        break;
      }
      search(*worker, L, wp, found);
      failure = take_up(L, wp, found);
      if (failure) break;
      note_length_done(in);
    }
    give_back(std::move(worker));
    return failure;
  }

  // One task a length, queued in increasing order on the program's pool (or
  // one of this call's own); each length's result waits until every shorter
  // length has been taken up, on this thread, which runs queued lengths
  // itself while it waits.
  std::optional<Executor> own;
  if (in.executor == nullptr) own.emplace(std::min(threads, M));
  Executor& executor = in.executor != nullptr ? *in.executor : *own;
  std::vector<Found> found(static_cast<size_t>(M) + 1);
  const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[static_cast<size_t>(M) + 1]());
  std::atomic<bool> stop{false};
  TaskGroup lengths(executor);
  for (int32_t L = 1; L <= M; ++L) {
    lengths.run([&, L] {
      if (!cancelled(in) && !lengths.failed() && !stop.load(std::memory_order_relaxed)) {
        std::unique_ptr<Worker> worker = take_worker();
        search(*worker, L, parameters[static_cast<size_t>(L)], found[static_cast<size_t>(L)]);
        give_back(std::move(worker));
      }
      done[static_cast<size_t>(L)].store(true, std::memory_order_release);
    });
  }
  std::optional<DetectionFailure> failure;
  for (int32_t L = 1; L <= M; ++L) {
    lengths.help_until([&] { return done[static_cast<size_t>(L)].load(std::memory_order_acquire); });
    if (lengths.failed()) break;
    if (cancelled(in)) {
      failure = cancelled_at(L);
      break;
    }
    failure = take_up(L, parameters[static_cast<size_t>(L)], found[static_cast<size_t>(L)]);
    found[static_cast<size_t>(L)] = Found();
    if (failure) break;
    note_length_done(in);
  }
  stop.store(true, std::memory_order_relaxed);
  lengths.wait();  // rethrows what a length threw
  return failure;
}

}  // namespace rivulon
