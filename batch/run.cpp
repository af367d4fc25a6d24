#include "batch/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "batch/fasta_input.h"
#include "batch/formats.h"
#include "batch/options.h"
#include "batch/progress.h"
#include "batch/repeats.h"
#include "batch/segments.h"
#include "batch/summary_page.h"
#include "cli/progress_line.h"
#include "report/escape.h"
#include "report/output_names.h"
#include "report/output_file.h"

#ifndef RIVULON_VERSION
#define RIVULON_VERSION "0"
#endif

namespace rivulon::batch {

namespace {

constexpr const char* kProgram = "rivulon-batch";

void say(const std::string& line) { std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str()); }

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
// the stretch's 1-based first and last base when it is not the whole record.
std::string stretch_label(const FastaRecord& record, const Segment& s, const char* separator) {
  const int64_t first = record.offset + s.start + 1, last = record.offset + s.end;
  if (first == 1 && last == record.record_length) return record.name;
  return record.name + separator + std::to_string(first) + "-" + std::to_string(last);
}

// A record name as a file name: '/' and control characters become '_'.
std::string file_stem(const std::string& label) {
  std::string stem = label.empty() ? "unnamed" : label;
  for (char& c : stem) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return stem;
}

class Run {
 public:
  Run(const BatchOptions& options, int32_t threads) : options_(options), threads_(threads) {}

  // Examines every record `next` yields, writing each one through `write`
  // in input order. Rethrows what a worker threw.
  template <typename Next, typename Write>
  void process(Next next, Write write) {
    std::vector<std::thread> workers;
    for (int32_t t = 0; t < threads_; ++t) workers.emplace_back([this] { work(); });
    try {
      while (std::unique_ptr<RecordWork> item = next()) {
        add(std::move(item), write);
      }
    } catch (...) {
      stop_with(std::current_exception());
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      closed_ = true;
    }
    changed_.notify_all();
    write_finished(write, /*all=*/true);
    for (std::thread& w : workers) w.join();
    if (error_) std::rethrow_exception(error_);
  }

  ProgressSnapshot snapshot() {
    std::lock_guard<std::mutex> guard(lock_);
    ProgressSnapshot s;
    s.record = queue_.empty() ? std::string() : queue_.front()->record.name;
    s.done = static_cast<double>(bases_done_);
    for (const RunningStretch* r : running_) {
      s.done += static_cast<double>(r->length) * cli::motif_work_share(r->lengths_done.load(), r->lengths);
    }
    s.total_known = reading_done_;
    s.total = static_cast<double>(bases_read_);
    if (!reading_done_ && fraction_read_ > 0.001) s.total = std::max(s.total, bases_read_ / fraction_read_);
    return s;
  }

  void note_read(double fraction, bool done) {
    std::lock_guard<std::mutex> guard(lock_);
    fraction_read_ = fraction;
    reading_done_ = done;
  }

 private:
  const BatchOptions& options_;
  const int32_t threads_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<RecordWork>> queue_;        // records in input order
  std::deque<std::pair<RecordWork*, size_t>> jobs_;      // stretches waiting for a worker
  std::vector<RunningStretch*> running_;
  int32_t busy_ = 0;
  bool closed_ = false;
  std::exception_ptr error_;
  int64_t bases_done_ = 0, bases_read_ = 0;
  int64_t longest_ = 0;  // the longest record read so far
  double fraction_read_ = 0;
  bool reading_done_ = false;

  bool may_read() const {
    int32_t examining = 0;
    int64_t held = 0;
    for (const auto& item : queue_) {
      examining += item->pending > 0 ? 1 : 0;
      held += item->record.length;
    }
    return examining < threads_ && held <= int64_t{threads_} * longest_;
  }

  void stop_with(std::exception_ptr error) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!error_) error_ = error;
    jobs_.clear();
    changed_.notify_all();
  }

  // Queues a record's stretches. A record is read only while fewer records
  // than threads are being examined and the records held (examined, or
  // waiting to be written in input order) are no more than a record per
  // thread of the longest seen: memory stays at about a record per thread,
  // while short records flow past a long one.
  template <typename Write>
  void add(std::unique_ptr<RecordWork> item, Write& write) {
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
    for (size_t k = 0; k < item->segments.size(); ++k) jobs_.emplace_back(item.get(), k);
    queue_.push_back(std::move(item));
    changed_.notify_all();
  }

  // Writes the records at the head of the queue that are finished; with
  // `all`, waits for every record.
  template <typename Write>
  void write_finished(Write& write, bool all) {
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

  void work() {
    for (;;) {
      RecordWork* item = nullptr;
      size_t k = 0;
      int32_t threads = 1;
      RunningStretch running{0, 0};
      {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return !jobs_.empty() || closed_ || error_; });
        if (jobs_.empty()) return;
        std::tie(item, k) = jobs_.front();
        jobs_.pop_front();
        ++busy_;
        // Definition 3 spreads one stretch over several threads; the threads
        // not busy with a stretch of their own lend themselves to it.
        threads = std::max(1, threads_ / busy_);
        running.length = item->segments[k].length();
        running.lengths = motif_lengths_of(options_, running.length);
        running_.push_back(&running);
      }
      std::exception_ptr failed;
      StretchResult result;
      try {
        result = examine(*item, k, threads, running.lengths_done);
      } catch (...) {
        failed = std::current_exception();
      }
      std::lock_guard<std::mutex> guard(lock_);
      running_.erase(std::find(running_.begin(), running_.end(), &running));
      --busy_;
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
  }

  StretchResult examine(RecordWork& item, size_t k, int32_t threads,
                        std::atomic<int32_t>& lengths_done) {
    const Segment& s = item.segments[k];
    char* bases = item.record.bases.get();
    // The detectors read a NUL after the last base: put one over the letter
    // that ends the stretch (no other stretch reads it) and put it back after.
    const char after = bases[s.end];
    bases[s.end] = '\0';
    std::optional<PageTarget> pages;
    if (!options_.report_dir.empty()) {
      pages = PageTarget{options_.report_dir + "/", file_stem(stretch_label(item.record, s, "_")) + ".fa"};
    }
    StretchResult result;
    try {
      result = find_repeats(options_, SequenceView{bases + s.start, static_cast<int32_t>(s.length())},
                            item.record.offset + s.start, threads, &lengths_done, pages);
    } catch (...) {
      bases[s.end] = after;
      throw;
    }
    bases[s.end] = after;
    return result;
  }
};

// The folder `dir` as a relative URL from the folder of the page `page`
// ("" for the same folder, otherwise ending in '/'), each part URL-escaped.
std::string folder_link(const std::string& dir, const std::string& page) {
  namespace fs = std::filesystem;
  std::error_code failed;
  const fs::path from = fs::absolute(page, failed).parent_path();
  const fs::path relative = fs::proximate(fs::absolute(dir, failed), from, failed);
  std::string link;
  for (const fs::path& part : relative) {
    if (part == "." || part.empty()) continue;
    link += url_escape(part.string()) + "/";
  }
  return link;
}

int32_t hardware_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(std::min(n, 1024U));
}

// An output file. A regular file (or a new name) is written under a
// temporary name and renamed into place when complete; anything else that
// already stands under the name (/dev/null, /dev/stdout, a named pipe) is
// written directly, never replaced.
class Destination {
 public:
  ~Destination() {
    if (direct_ != nullptr) std::fclose(direct_);
  }
  bool open(const std::string& name) {
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
      direct_ = std::fopen(name.c_str(), "w");
      return direct_ != nullptr;
    }
    return file_.open(name);
  }
  std::FILE* stream() const { return direct_ != nullptr ? direct_ : file_.stream(); }
  bool commit() {
    if (direct_ == nullptr) return file_.commit();
    const bool written = std::fclose(direct_) == 0;
    direct_ = nullptr;
    return written;
  }

 private:
  OutputFile file_;
  std::FILE* direct_ = nullptr;
};

// A table of repeats in one format, to a file or standard output.
struct TableOutput {
  std::string name;  // empty: standard output
  Destination file;
  std::unique_ptr<RepeatWriter> writer;
};

// The outputs of a run, and what went wrong while writing them.
struct Outputs {
  std::deque<TableOutput> tables;
  Destination masked_file;
  std::FILE* masked = nullptr;
  std::optional<SummaryPage> summary;
  std::string links_to_pages;  // the report folder as seen from the summary page, URL-escaped
  bool pages_failed = false;
  int64_t stretches_failed = 0;  // stretches the detection could not examine
};

}  // namespace

int run_batch(const std::vector<std::string>& args) {
  const ParsedOptions parsed = parse_options(args);
  if (!parsed.error.empty()) {
    say(parsed.error);
    return kExitUsage;
  }
  const BatchOptions& options = parsed.options;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, RIVULON_VERSION);
    return kExitDone;
  }
  try {
    FastaReader reader;
    if (!reader.open(options.input, options.regions)) {
      say(reader.error());
      return kExitInput;
    }
    // The first record is read before anything is written, so that an input
    // that is no FASTA leaves nothing behind.
    auto first = std::make_unique<RecordWork>();
    const FastaReader::Status status = reader.next(first->record);
    if (status == FastaReader::Status::kError) {
      say(reader.error());
      return kExitInput;
    }
    if (status == FastaReader::Status::kEnd) {
      say("'" + options.input + "' holds no FASTA record");
      return kExitInput;
    }

    Outputs out;
    if (!options.report_dir.empty()) {
      std::error_code failed;
      std::filesystem::create_directories(options.report_dir, failed);
      if (failed || !std::filesystem::is_directory(options.report_dir)) {
        say("cannot create the folder '" + options.report_dir + "'");
        return kExitOutput;
      }
    }
    std::vector<std::pair<OutputFormat, std::string>> tables = {{options.format, options.output}};
    tables.insert(tables.end(), options.also.begin(), options.also.end());
    for (const auto& [format, name] : tables) {
      TableOutput& table = out.tables.emplace_back();
      std::FILE* stream = stdout;
      if (!name.empty() && name != "-") {
        table.name = name;
        if (!table.file.open(name)) {
          say("cannot write '" + name + "'");
          return kExitOutput;
        }
        stream = table.file.stream();
      }
      table.writer = std::make_unique<RepeatWriter>(stream, options, format);
      table.writer->write_header();
    }
    if (!options.masked_out.empty()) {
      if (!out.masked_file.open(options.masked_out)) {
        say("cannot write '" + options.masked_out + "'");
        return kExitOutput;
      }
      out.masked = out.masked_file.stream();
    }

    if (!options.html.empty()) {
      out.summary.emplace(options);
      if (!options.report_dir.empty()) out.links_to_pages = folder_link(options.report_dir, options.html);
    }

    const int32_t threads = options.threads > 0 ? options.threads : hardware_threads();
    Run run(options, threads);
    std::optional<cli::ProgressLine> progress;
    if (!options.quiet && isatty(STDERR_FILENO)) {
      progress.emplace(stderr, [&run](double elapsed) { return progress_line(run.snapshot(), elapsed); });
    }
    std::string read_error;
    auto next = [&]() -> std::unique_ptr<RecordWork> {
      std::unique_ptr<RecordWork> item = std::move(first);
      if (!item) {
        item = std::make_unique<RecordWork>();
        const FastaReader::Status got = reader.next(item->record);
        if (got != FastaReader::Status::kRecord) {
          if (got == FastaReader::Status::kError) read_error = reader.error();
          run.note_read(1.0, true);
          return nullptr;
        }
      }
      run.note_read(reader.fraction_read(), false);
      item->segments = prepare_segments(item->record.bases.get(), item->record.length, options.keep_case);
      return item;
    };
    std::vector<std::string> warnings;
    auto write = [&](RecordWork& item) {
      std::vector<FoundRepeat> repeats;
      std::vector<std::string> links;
      for (size_t k = 0; k < item.results.size(); ++k) {
        StretchResult& r = item.results[k];
        const std::string label = stretch_label(item.record, item.segments[k], ":");
        if (r.failure) {
          ++out.stretches_failed;
          warnings.push_back(label + " was not examined: the significance model has no quota for motif length " +
                             std::to_string(r.failure->motif_length));
          if (r.failure->cause == DetectionFailure::Cause::kInternalCheck) {
            warnings.back() = label + " was not examined: an internal check failed at motif length " +
                              std::to_string(r.failure->motif_length);
          }
        }
        if (!r.pages.empty()) {
          out.pages_failed = true;
          warnings.push_back("the pages of " + label + " could not all be written in '" + options.report_dir + "'");
        }
        if (out.summary && !options.report_dir.empty()) {
          const std::string page = url_escape(alignments_page_name(
              file_stem(stretch_label(item.record, item.segments[k], "_")) + ".fa"));
          for (const FoundRepeat& found : r.repeats) {
            links.push_back(out.links_to_pages + page + "#" + std::to_string(found.row));
          }
        }
        repeats.insert(repeats.end(), r.repeats.begin(), r.repeats.end());
      }
      if (out.summary) out.summary->add(item.record, repeats, links);
      for (TableOutput& table : out.tables) table.writer->write_record(item.record, repeats);
      if (out.masked != nullptr) write_masked(out.masked, item.record, repeats, options.mask);
      item.record.bases.reset();  // freed before the next record is read
    };
    run.process(next, write);
    if (progress) progress->stop();
    for (const std::string& w : warnings) say("warning: " + w);
    if (!read_error.empty()) {
      say(read_error);
      return kExitInput;
    }
    bool written = true;
    if (out.summary) {
      Destination page;
      if (!page.open(options.html)) {
        say("cannot write '" + options.html + "'");
        written = false;
      } else {
        out.summary->write(page.stream());
        if (!page.commit()) {
          say("cannot write '" + options.html + "'");
          written = false;
        }
      }
    }
    if (!options.masked_out.empty() && !out.masked_file.commit()) {
      say("cannot write '" + options.masked_out + "'");
      written = false;
    }
    for (TableOutput& table : out.tables) {
      if (table.name.empty()) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
          say("cannot write the repeats to standard output");
          written = false;
        }
      } else if (!table.file.commit()) {
        say("cannot write '" + table.name + "'");
        written = false;
      }
    }
    if (!written || out.pages_failed) return kExitOutput;
    return out.stretches_failed > 0 ? kExitNotExamined : kExitDone;
  } catch (const std::bad_alloc&) {
    say("out of memory (a record takes about 10 bytes a base per thread; try fewer --threads)");
    return kExitOutOfMemory;
  }
}

}  // namespace rivulon::batch
