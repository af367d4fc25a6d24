#include "batch/run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "batch/clashes.h"
#include "batch/options.h"
#include "batch/annotation.h"
#include "batch/outputs.h"
#include "batch/pipeline.h"
#include "batch/progress.h"
#include "batch/record_names.h"
#include "batch/table_page.h"
#include "cli/progress_line.h"
#include "rivulon/genome.h"

#ifndef RIVULON_VERSION
#define RIVULON_VERSION "0"
#endif

namespace rivulon::batch {

namespace {

constexpr const char* kProgram = "rivulon-batch";

int32_t hardware_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(std::min(n, 1024U));
}

// The genome's records, one after another, split into stretches; the first
// is read before anything is written, so that an input that is no FASTA (or
// whose first record has no name) leaves nothing behind.
class Records {
 public:
  Records(const BatchOptions& options) : options_(options) {}

  // "" when the input is open and its first record read; otherwise why not.
  std::string open() {
    if (!reader_.open(options_.input, options_.regions)) return reader_.error();
    if (!reader_.warning().empty()) say("warning: " + reader_.warning());
    first_ = std::make_unique<RecordWork>();
    const FastaReader::Status status = reader_.next(first_->record);
    if (status == FastaReader::Status::kError) return reader_.error();
    if (status == FastaReader::Status::kEnd) return "'" + options_.input + "' holds no FASTA record";
    return options_.regions.empty() ? names_.check(first_->record.name) : "";
  }

  // The next record, or nothing at the end or on an error (then `error()`).
  std::unique_ptr<RecordWork> next(Pipeline& run) {
    std::unique_ptr<RecordWork> item = std::move(first_);
    if (!item) {
      item = std::make_unique<RecordWork>();
      const FastaReader::Status got = reader_.next(item->record);
      if (got == FastaReader::Status::kError) error_ = reader_.error();
      if (got == FastaReader::Status::kRecord && options_.regions.empty()) error_ = names_.check(item->record.name);
      if (got != FastaReader::Status::kRecord || !error_.empty()) {
        run.note_read(1.0, true);
        return nullptr;
      }
    }
    run.note_read(reader_.fraction_read(), false);
    item->segments = prepare_segments(item->record.bases.get(), item->record.length, options_.keep_case);
    return item;
  }

  const std::string& error() const { return error_; }

 private:
  const BatchOptions& options_;
  FastaReader reader_;
  RecordNames names_;
  std::unique_ptr<RecordWork> first_;
  std::string error_;
};

// Reads, examines and writes the whole genome; the exit status.
int examine_genome(const BatchOptions& options, std::time_t started) {
  Records records(options);
  if (const std::string error = records.open(); !error.empty()) {
    say(error);
    return kExitInput;
  }
  std::optional<Annotation> annotation;
  if (!options.annotation.empty()) {
    std::string error;
    annotation = Annotation::read(options.annotation, error);
    if (!annotation) {
      say(error);
      return kExitInput;
    }
  }
  RunOutputs outputs(options, annotation ? &*annotation : nullptr);
  if (const std::string error = outputs.open(started); !error.empty()) {
    say(error);
    return kExitOutput;
  }
  // The one pool of the program: records' stretches and definition 3's motif lengths.
  Executor executor(options.threads > 0 ? options.threads : hardware_threads());
  Pipeline run(options, executor);
  std::optional<cli::ProgressLine> progress;
  if (!options.quiet && isatty(STDERR_FILENO)) {
    const SignalsKeptFromNewThreads kept;  // the ending signals come to this thread only
    progress.emplace(stderr, [&run, meter = ProgressMeter()](double elapsed, int columns) mutable {
      return meter.line(run.snapshot(), elapsed, columns);
    });
  }
  run.process([&] { return records.next(run); }, [&](RecordWork& item) { outputs.add(item); });
  if (progress) progress->stop();
  for (const std::string& w : outputs.warnings()) say("warning: " + w);
  if (!records.error().empty()) {
    say(records.error());
    return kExitInput;
  }
  if (!outputs.put_in_place()) return kExitOutput;
  if (const std::string chance = outputs.chance_line(); !chance.empty()) say(chance);
  // On a terminal only, like the progress line.
  if (progress) std::fprintf(stderr, "%s\n", outputs.closing_line().c_str());
  return outputs.stretches_not_examined() > 0 ? kExitNotExamined : kExitDone;
}

}  // namespace

void say(const std::string& line) { std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str()); }

int run_batch(const std::vector<std::string>& args) {
  const ParsedOptions parsed = parse_options(args);
  if (!parsed.error.empty()) {
    say(parsed.error);
    return kExitUsage;
  }
  const BatchOptions& options = parsed.options;
  if (options.help || options.version) {
    if (options.help) std::fputs(usage().c_str(), stdout);
    else std::printf("%s %s\n", kProgram, RIVULON_VERSION);
    return kExitDone;
  }
  if (const std::string clash = clashing_outputs(options); !clash.empty()) {
    say(clash + "; nothing was written");
    return kExitUsage;
  }
  if (options.mismatch == 0) {
    say("warning: --mismatch 0 makes long motifs very slow (about 1,000 times slower; "
        "3 ms a base at motif length 500)");
  }
  const std::time_t started = std::time(nullptr);
  try {
    return options.from_table.empty() ? examine_genome(options, started) : page_from_table(options);
  } catch (const std::bad_alloc&) {
    say("out of memory (a record takes about 10 bytes a base per thread; try fewer --threads)");
    return kExitOutOfMemory;
  }
}

}  // namespace rivulon::batch
