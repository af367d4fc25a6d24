// The run's records on their way: read one after another, split, examined
// stretch by stretch on a pool of threads, written in input order, freed.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rivulon/genome.h"
#include "batch/options.h"
#include "batch/progress.h"
#include "batch/repeats.h"
#include "rivulon/executor.h"

namespace rivulon::batch {

// A record on its way through the run: read, split, examined stretch by
// stretch (on any thread), then written in input order and freed.
struct RecordWork {
  FastaRecord record;
  std::vector<Segment> segments;
  std::vector<StretchResult> results;  // one per segment
  size_t pending = 0;                  // segments not yet examined
};

// A stretch being examined, for the progress line.
struct RunningStretch {
  int64_t length;
  int32_t lengths;                    // motif lengths it is examined for
  std::atomic<int32_t> lengths_done{0};
};

// The name of a stretch in messages and page names: the record's name, and
// the stretch's 1-based first and last base (joined by `separator`) when it
// is not the whole record.
std::string stretch_label(const FastaRecord& record, const Segment& s, const char* separator);

// The names of a stretch's report pages, atr_STEM.html, align_STEM.html and
// atr_STEM.txt, STEM being the record's name with every byte but letters, digits, '.', '_' and
// '-' written as %XX (so '/' cannot leave the folder and no two names meet),
// then ":first-last" for a stretch that is not the whole record.
// An escaped name longer than 200 bytes keeps its first 180 and "~" and 16
// hexadecimal digits of a hash of the whole, so that page names fit a file name.
// Different records and stretches always get different names.
PageNames stretch_pages(const FastaRecord& record, const Segment& s);

// Yields the next record (split into segments), or nothing at the end.
using NextRecord = std::function<std::unique_ptr<RecordWork>()>;
// Writes a record whose stretches are all examined; called in input order.
using WriteRecord = std::function<void(RecordWork&)>;

class Pipeline {
 public:
  // Stretches are examined on `executor`'s threads, definition 3's motif
  // lengths too; the calling thread reads and writes.
  Pipeline(const BatchOptions& options, Executor& executor)
      : options_(options), executor_(executor), threads_(executor.threads()) {}

  // Examines every record `next` yields, writing each one through `write`
  // in input order. Rethrows what a worker threw.
  void process(const NextRecord& next, const WriteRecord& write);

  // What the progress line shows; any thread may ask.
  ProgressSnapshot snapshot();

  // How much of the input the reader has read, and whether it is all read.
  void note_read(double fraction, bool done);

 private:
  const BatchOptions& options_;
  Executor& executor_;
  int32_t threads_;              // the executor's threads
  TaskGroup* stretches_ = nullptr;  // the stretches queued on the executor, while process() runs
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<RecordWork>> queue_;        // records in input order
  std::deque<std::pair<RecordWork*, size_t>> jobs_;      // stretches waiting for a thread, in input order
  std::vector<RunningStretch*> running_;
  std::exception_ptr error_;
  int64_t bases_done_ = 0, bases_read_ = 0;
  int64_t longest_ = 0;  // the longest record read so far
  double fraction_read_ = 0;
  bool reading_done_ = false;

  // Whether another record may be read now (see add); under the lock.
  bool may_read() const;

  // Ends the run with `error`: nothing more is examined or written.
  void stop_with(std::exception_ptr error);

  // Queues a record's stretches. A record is read only while fewer records
  // than threads are being examined and the records held (examined, or
  // waiting to be written in input order) are no more than a record per
  // thread of the longest seen: memory stays at about a record per thread,
  // while short records flow past a long one.
  void add(std::unique_ptr<RecordWork> item, const WriteRecord& write);

  // Writes the records at the head of the queue that are finished; with
  // `all`, waits for every record.
  void write_finished(const WriteRecord& write, bool all);

  // A task on the executor: examines the first stretch waiting.
  void examine_next();

  // Detects the repeats of stretch k of `item`.
  StretchResult examine(RecordWork& item, size_t k, std::atomic<int32_t>& lengths_done);
};

}  // namespace rivulon::batch
