#include "rivulon/executor.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace rivulon {

SignalsKeptFromNewThreads::SignalsKeptFromNewThreads() {
  sigset_t held;
  sigfillset(&held);
  for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&held, fault);
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

SignalsKeptFromNewThreads::~SignalsKeptFromNewThreads() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

struct TaskGroup::State {
  Executor::State* executor;
  std::mutex lock;                  // guards the fields below and the wake-up of waiters
  std::condition_variable changed;  // a task of the group has ended
  int64_t unfinished = 0;           // queued or running
  std::exception_ptr error;
};

struct Executor::State {
  std::mutex lock;
  std::condition_variable queued;
  std::deque<std::pair<TaskGroup::State*, std::function<void()>>> tasks;
  bool stopping = false;
  std::vector<std::thread> threads;

  // Takes the first queued task (of `group` only, when given).
  bool take(TaskGroup::State* group, std::pair<TaskGroup::State*, std::function<void()>>& out) {
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
      if (group == nullptr || it->first == group) {
        out = std::move(*it);
        tasks.erase(it);
        return true;
      }
    }
    return false;
  }

  static void run(TaskGroup::State* group, std::function<void()>& task) {
    std::exception_ptr thrown;
    try {
      task();
    } catch (...) {
      thrown = std::current_exception();
    }
    task = nullptr;  // what the task holds goes before the group hears of its end
    std::lock_guard<std::mutex> guard(group->lock);
    if (thrown && !group->error) group->error = thrown;
    --group->unfinished;
    group->changed.notify_all();
  }

  void work() {
    for (;;) {
      std::pair<TaskGroup::State*, std::function<void()>> next;
      {
        std::unique_lock<std::mutex> guard(lock);
        queued.wait(guard, [&] { return stopping || !tasks.empty(); });
        if (!take(nullptr, next)) return;  // stopping, and nothing left
      }
      run(next.first, next.second);
    }
  }
};

Executor::Executor(int32_t threads) : state_(std::make_unique<State>()) {
  const SignalsKeptFromNewThreads kept;
  try {
    for (int32_t t = 0; t < std::max(1, threads); ++t) state_->threads.emplace_back([this] { state_->work(); });
  } catch (const std::system_error&) {
    // A thread the system cannot start leaves the work to those started.
    if (state_->threads.empty()) throw std::bad_alloc();
  }
}

Executor::~Executor() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stopping = true;
  }
  state_->queued.notify_all();
  for (std::thread& t : state_->threads) t.join();
}

int32_t Executor::threads() const { return static_cast<int32_t>(state_->threads.size()); }

TaskGroup::TaskGroup(Executor& executor) : state_(std::make_unique<State>()) {
  state_->executor = executor.state_.get();
}

TaskGroup::~TaskGroup() {
  help_until([this] { return state_->unfinished == 0; });
  // A task that threw may leave others running: wait for those too.
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->changed.wait(guard, [this] { return state_->unfinished == 0; });
}

void TaskGroup::run(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    ++state_->unfinished;
  }
  Executor::State& executor = *state_->executor;
  {
    std::lock_guard<std::mutex> guard(executor.lock);
    executor.tasks.emplace_back(state_.get(), std::move(task));
  }
  executor.queued.notify_one();
}

void TaskGroup::help_until(const std::function<bool()>& ready) {
  State& s = *state_;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(s.lock);
      if (s.error || ready()) return;
    }
    std::pair<TaskGroup::State*, std::function<void()>> mine;
    bool found = false;
    {
      std::lock_guard<std::mutex> guard(s.executor->lock);
      found = s.executor->take(&s, mine);
    }
    if (found) {
      Executor::State::run(mine.first, mine.second);
      continue;
    }
    // Every task of the group is running elsewhere: wait for one to end.
    std::unique_lock<std::mutex> guard(s.lock);
    s.changed.wait(guard, [&] { return s.error || ready() || s.unfinished == 0; });
    if (s.unfinished == 0 && !ready() && !s.error) return;  // nothing left that could make it ready
  }
}

void TaskGroup::wait() {
  help_until([this] { return state_->unfinished == 0; });
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->changed.wait(guard, [this] { return state_->unfinished == 0; });
  if (state_->error) std::rethrow_exception(state_->error);
}

bool TaskGroup::failed() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->error != nullptr;
}

}  // namespace rivulon
