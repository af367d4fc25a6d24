// The one pool of threads a program hands to every parallel step: the batch
// program's stretches and definition 3's motif lengths run on the same
// threads, never a pool inside a pool. A task that waits for tasks of its own
// (a stretch for its motif lengths) runs them itself while it waits, so that
// waiting never holds a thread idle and can never deadlock.
//
// Stands alone (no header of the project): every layer may use it.
#pragma once
#include <signal.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace rivulon {

class TaskGroup;

// While it lives, the threads this thread starts inherit a signal mask that
// holds back every signal but those a fault raises (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGTRAP, SIGABRT, SIGSYS): helper threads never run a program's
// handlers, so that a program that holds the ending signals back on its own
// thread (while it puts its outputs in place) holds them back from the whole
// process. The pool's threads are started so, and a program starts its
// other threads (a progress line's) so.
class SignalsKeptFromNewThreads {
 public:
  SignalsKeptFromNewThreads();
  ~SignalsKeptFromNewThreads();
  SignalsKeptFromNewThreads(const SignalsKeptFromNewThreads&) = delete;
  SignalsKeptFromNewThreads& operator=(const SignalsKeptFromNewThreads&) = delete;

 private:
  sigset_t previous_;
};

class Executor {
 public:
  // Starts `threads` threads (at least 1; fewer when the system cannot start
  // them all, none started being std::bad_alloc).
  explicit Executor(int32_t threads);
  // Waits for the tasks running; every group must have been waited for.
  ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  int32_t threads() const;

 private:
  friend class TaskGroup;
  struct State;
  std::unique_ptr<State> state_;
};

// Tasks that belong together, queued in the order they are run.
class TaskGroup {
 public:
  explicit TaskGroup(Executor& executor);
  ~TaskGroup();  // waits for every task of the group
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // Queues `task`; a task that throws ends nothing else, its exception is
  // kept (the first one) for wait().
  void run(std::function<void()> task);

  // Returns once `ready()` holds or a task of the group has thrown, running
  // the group's queued tasks on this thread meanwhile. `ready` is asked
  // again after each task of the group ends, so it should read what the
  // tasks set before they end.
  void help_until(const std::function<bool()>& ready);

  // Waits for every task of the group (helping), then rethrows the first
  // exception one of them threw.
  void wait();

  bool failed() const;

 private:
  friend class Executor;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace rivulon
