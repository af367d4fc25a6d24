#include "batch/pipeline.h"

#include "report/escape.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>

#include "cli/progress_line.h"

namespace rivulon::batch {

std::string stretch_label(const FastaRecord& record, const Segment& s, const char* separator) {
  const int64_t first = record.offset + s.start + 1, last = record.offset + s.end;
  if (first == 1 && last == record.record_length) return record.name;
  return record.name + separator + std::to_string(first) + "-" + std::to_string(last);
}

PageNames stretch_pages(const FastaRecord& record, const Segment& s) {
  std::string stem = percent_escape(record.name, "._-");
  // A name too long for a file name keeps its first 180 bytes (whole
  // escapes) and a hash of the rest after a '~', which an escaped name never holds.
  constexpr size_t kLongestStem = 200;
  if (stem.size() > kLongestStem) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a of the whole escaped name
    for (const unsigned char c : stem) hash = (hash ^ c) * 1099511628211ull;
    size_t cut = 180;
    while (stem[cut - 1] == '%' || stem[cut - 2] == '%') --cut;
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    stem = stem.substr(0, cut) + tail;
  }
  // The stretch's range follows a ':', which an escaped name never holds.
  const std::string label = stretch_label(record, s, ":");
  return page_names_of_stem(stem + label.substr(record.name.size()));
}

void Pipeline::process(const NextRecord& next, const WriteRecord& write) {
  TaskGroup stretches(executor_);
  stretches_ = &stretches;
  try {
    while (std::unique_ptr<RecordWork> item = next()) {
      add(std::move(item), write);
    }
  } catch (...) {
    stop_with(std::current_exception());
  }
  write_finished(write, /*all=*/true);
  stretches.wait();  // a stretch's failure is kept in error_, not thrown here
  stretches_ = nullptr;
  if (error_) std::rethrow_exception(error_);
}

ProgressSnapshot Pipeline::snapshot() {
  std::lock_guard<std::mutex> guard(lock_);
  ProgressSnapshot s;
  s.record = queue_.empty() ? std::string() : queue_.front()->record.name;
  s.done = static_cast<double>(bases_done_);
  for (const RunningStretch* r : running_) {
    s.done += static_cast<double>(r->length) * cli::motif_work_share(r->lengths_done.load(), r->lengths, options_.definition);
  }
  s.total_known = reading_done_;
  s.total = static_cast<double>(bases_read_);
  if (!reading_done_ && fraction_read_ > 0.001) s.total = std::max(s.total, bases_read_ / fraction_read_);
  return s;
}

void Pipeline::note_read(double fraction, bool done) {
  std::lock_guard<std::mutex> guard(lock_);
  fraction_read_ = fraction;
  reading_done_ = done;
}

bool Pipeline::may_read() const {
  int32_t examining = 0;
  int64_t held = 0;
  for (const auto& item : queue_) {
    examining += item->pending > 0 ? 1 : 0;
    held += item->record.length;
  }
  return examining < threads_ && held <= int64_t{threads_} * longest_;
}

void Pipeline::stop_with(std::exception_ptr error) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!error_) error_ = error;
  jobs_.clear();
  changed_.notify_all();
}

void Pipeline::add(std::unique_ptr<RecordWork> item, const WriteRecord& write) {
  for (;;) {
    write_finished(write, false);
    std::unique_lock<std::mutex> guard(lock_);
    if (error_) return;
    if (may_read()) break;
    changed_.wait(guard, [&] {
      return error_ || may_read() || (!queue_.empty() && queue_.front()->pending == 0);
    });
  }
  int64_t examined = 0;
  for (const Segment& s : item->segments) examined += s.length();
  std::lock_guard<std::mutex> guard(lock_);
  longest_ = std::max(longest_, item->record.length);
  bases_read_ += item->record.length;
  bases_done_ += item->record.length - examined;  // letters that are no bases count as done
  item->results.resize(item->segments.size());
  item->pending = item->segments.size();
  for (size_t k = 0; k < item->segments.size(); ++k) {
    jobs_.emplace_back(item.get(), k);
    stretches_->run([this] { examine_next(); });
  }
  queue_.push_back(std::move(item));
  changed_.notify_all();
}

void Pipeline::write_finished(const WriteRecord& write, bool all) {
  for (;;) {
    std::unique_ptr<RecordWork> head;
    {
      std::unique_lock<std::mutex> guard(lock_);
      if (all) {
        changed_.wait(guard, [&] {
          return error_ || queue_.empty() || queue_.front()->pending == 0;
        });
      }
      if (error_ || queue_.empty() || queue_.front()->pending != 0) return;
      head = std::move(queue_.front());
      queue_.pop_front();
    }
    write(*head);
    changed_.notify_all();
  }
}

void Pipeline::examine_next() {
  RecordWork* item = nullptr;
  size_t k = 0;
  RunningStretch running{0, 0};
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (jobs_.empty()) return;  // the run has stopped
    std::tie(item, k) = jobs_.front();
    jobs_.pop_front();
    running.length = item->segments[k].length();
    running.lengths = motif_lengths_examined(options_, running.length);
    running_.push_back(&running);
  }
  std::exception_ptr failed;
  StretchResult result;
  try {
    result = examine(*item, k, running.lengths_done);
  } catch (...) {
    failed = std::current_exception();
  }
  std::lock_guard<std::mutex> guard(lock_);
  running_.erase(std::find(running_.begin(), running_.end(), &running));
  if (failed) {
    if (!error_) error_ = failed;
    jobs_.clear();
  } else {
    item->results[k] = std::move(result);
    --item->pending;
    bases_done_ += running.length;
  }
  changed_.notify_all();
}

StretchResult Pipeline::examine(RecordWork& item, size_t k, std::atomic<int32_t>& lengths_done) {
  const Segment& s = item.segments[k];
  std::optional<PageTarget> pages;
  if (!options_.report_dir.empty() && options_.classic_pages) {
    pages = PageTarget{options_.report_dir + "/", stretch_pages(item.record, s)};
  }
  const std::string_view stretch(item.record.bases.get() + s.start, static_cast<size_t>(s.length()));
  return find_repeats(options_, stretch, item.record.offset + s.start, executor_, &lengths_done, pages);
}

}  // namespace rivulon::batch
