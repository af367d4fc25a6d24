#include "batch/run.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>

#include "batch/clashes.h"
#include "batch/destination.h"
#include "rivulon/genome.h"
#include "batch/formats.h"
#include "batch/options.h"
#include "batch/pipeline.h"
#include "batch/progress.h"
#include "batch/repeats.h"
#include "batch/summary_page.h"
#include "cli/progress_line.h"
#include "report/escape.h"
#include "report/output_file.h"
#include "report/output_names.h"

#ifndef RIVULON_VERSION
#define RIVULON_VERSION "0"
#endif

namespace rivulon::batch {

namespace {

constexpr const char* kProgram = "rivulon-batch";

void say(const std::string& line) { std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str()); }

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

// A table of repeats in one format, to a file or standard output.
struct TableOutput {
  std::string name;  // empty: standard output
  Destination file;
  std::unique_ptr<RepeatWriter> writer;
};

// The outputs of a run, and what went wrong while writing them.
struct Outputs {
  std::deque<TableOutput> tables;
  Destination masked_file;  // open when --masked-out is given
  std::optional<SummaryPage> summary;
  std::string links_to_pages;  // the report folder as seen from the summary page, URL-escaped
  std::vector<OutputFile> pages;  // --report-dir pages written whole, put in place at the end
  bool pages_failed = false;
  int64_t stretches_failed = 0;  // stretches the detection could not examine
};

// The folder a file is written in ("" for the current one).
std::string folder_of(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Removes what runs on this host that were killed (SIGKILL, a power cut)
// left in the folders this run writes to.
void remove_leftovers(const BatchOptions& options, std::time_t started) {
  std::vector<std::string> folders;
  if (!options.report_dir.empty()) folders.push_back(options.report_dir + "/");
  for (const std::string& name : {options.output, options.masked_out, options.html}) {
    if (!name.empty() && name != "-") folders.push_back(folder_of(name));
  }
  for (const auto& also : options.also) {
    if (also.second != "-") folders.push_back(folder_of(also.second));
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const std::string& folder : folders) remove_stale_temporaries(folder, started);
}

// The report folder, when this run creates it: removed again (if still
// empty) unless the run puts its outputs in place.
class NewFolder {
 public:
  explicit NewFolder(const std::string& path) {
    std::error_code failed;
    if (!path.empty() && !std::filesystem::exists(path, failed)) path_ = path;
  }
  ~NewFolder() {
    std::error_code failed;
    if (!path_.empty()) std::filesystem::remove(path_, failed);  // only an empty folder goes
  }
  NewFolder(const NewFolder&) = delete;
  NewFolder& operator=(const NewFolder&) = delete;
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

// Every record is named, and no two alike: the names key every output.
class RecordNames {
 public:
  // "" when `name` may be the name of the next record; otherwise why not.
  std::string check(const std::string& name) {
    ++records_;
    if (name.empty()) return "record " + std::to_string(records_) + " has no name (its header line is only '>')";
    const auto [at, fresh] = first_.emplace(name, records_);
    if (fresh) return "";
    return "records " + std::to_string(at->second) + " and " + std::to_string(records_) + " are both named '" +
           name + "'; give every record its own name";
  }

 private:
  int64_t records_ = 0;
  std::unordered_map<std::string, int64_t> first_;
};

// Puts every output in place, or none: all are written whole first; then the
// renames run with SIGINT and SIGTERM held back, so that an interruption
// leaves the earlier outputs or the new ones, not a mix. False with the
// failures told when anything could not be written whole.
bool put_outputs_in_place(Outputs& out, Destination* page, const BatchOptions& options) {
  bool written = !out.pages_failed;
  const auto finish = [&written](Destination& d, const std::string& name) {
    if (!d.finish()) {
      say("cannot write '" + name + "'");
      written = false;
    }
  };
  if (page != nullptr) finish(*page, options.html);
  if (!options.masked_out.empty()) finish(out.masked_file, options.masked_out);
  for (TableOutput& table : out.tables) {
    if (table.name.empty()) {
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        say("cannot write the repeats to standard output");
        written = false;
      }
    } else {
      finish(table.file, table.name);
    }
  }
  if (!written) {
    say("nothing was replaced: the outputs stay as they were");
    return false;
  }
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  // Pages first and the summary page last, so that no page links to one not yet there.
  for (OutputFile& p : out.pages) {
    if (!p.put_in_place()) {
      say("cannot put '" + p.final_name() + "' in place");
      written = false;
    }
  }
  if (!options.masked_out.empty() && !out.masked_file.put_in_place()) {
    say("cannot put '" + options.masked_out + "' in place");
    written = false;
  }
  for (TableOutput& table : out.tables) {
    if (!table.name.empty() && !table.file.put_in_place()) {
      say("cannot put '" + table.name + "' in place");
      written = false;
    }
  }
  if (page != nullptr && !page->put_in_place()) {
    say("cannot put '" + options.html + "' in place");
    written = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

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
  const std::string clash = clashing_outputs(options);
  if (!clash.empty()) {
    say(clash + "; nothing was written");
    return kExitUsage;
  }
  if (options.mismatch == 0) {
    say("warning: --mismatch 0 makes long motifs very slow (about 1,000 times slower; "
        "3 ms a base at motif length 500)");
  }
  const std::time_t started = std::time(nullptr);
  try {
    FastaReader reader;
    if (!reader.open(options.input, options.regions)) {
      say(reader.error());
      return kExitInput;
    }
    if (!reader.warning().empty()) say("warning: " + reader.warning());
    RecordNames names;
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
    if (options.regions.empty()) {
      const std::string unnamed = names.check(first->record.name);
      if (!unnamed.empty()) {
        say(unnamed);
        return kExitInput;
      }
    }

    NewFolder new_folder(options.report_dir);  // before `out`: its temporaries go first
    Outputs out;
    if (!options.report_dir.empty()) {
      std::error_code failed;
      std::filesystem::create_directories(options.report_dir, failed);
      if (failed || !std::filesystem::is_directory(options.report_dir)) {
        say("cannot create the folder '" + options.report_dir + "'");
        return kExitOutput;
      }
      // Held until the process ends: no other run writes pages there meanwhile.
      if (lock_folder(options.report_dir, /*alone=*/true) == -1) {
        say("another run is writing pages in '" + options.report_dir + "'; try again when it has finished");
        return kExitOutput;
      }
    }
    remove_leftovers(options, started);
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
    }

    if (!options.html.empty()) {
      out.summary.emplace(options);
      if (!options.report_dir.empty()) out.links_to_pages = folder_link(options.report_dir, options.html);
    }

    const int32_t threads = options.threads > 0 ? options.threads : hardware_threads();
    Pipeline run(options, threads);
    std::optional<cli::ProgressLine> progress;
    if (!options.quiet && isatty(STDERR_FILENO)) {
      progress.emplace(stderr, [&run, meter = ProgressMeter()](double elapsed, int columns) mutable {
        return meter.line(run.snapshot(), elapsed, columns);
      });
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
        if (options.regions.empty()) read_error = names.check(item->record.name);
        if (!read_error.empty()) {
          run.note_read(1.0, true);
          return nullptr;
        }
      }
      run.note_read(reader.fraction_read(), false);
      item->segments = prepare_segments(item->record.bases.get(), item->record.length, options.keep_case);
      return item;
    };
    std::vector<std::string> warnings;
    int64_t repeats_found = 0, records_done = 0;
    auto write = [&](RecordWork& item) {
      std::vector<FoundRepeat> repeats;
      std::vector<std::string> links;
      for (size_t k = 0; k < item.results.size(); ++k) {
        StretchResult& r = item.results[k];
        const std::string label = stretch_label(item.record, item.segments[k], ":");
        if (r.failure) {
          ++out.stretches_failed;
          const char* why = r.failure->cause == DetectionFailure::Cause::kInternalCheck
                                ? " was not examined: an internal check failed at motif length "
                                : " was not examined: the significance model has no quota for motif length ";
          warnings.push_back(label + why + std::to_string(r.failure->motif_length));
        }
        for (OutputFile& page : r.unplaced) out.pages.push_back(std::move(page));
        if (!r.pages.empty()) {
          out.pages_failed = true;
          warnings.push_back("the pages of " + label + " could not all be written in '" + options.report_dir + "'");
        }
        if (out.summary && !options.report_dir.empty()) {
          const std::string page =
              url_escape(alignments_page_name(stretch_page_name(item.record, item.segments[k])));
          for (const FoundRepeat& found : r.repeats) {
            links.push_back(out.links_to_pages + page + "#" + std::to_string(found.row));
          }
        }
        repeats.insert(repeats.end(), r.repeats.begin(), r.repeats.end());
      }
      repeats_found += static_cast<int64_t>(repeats.size());
      ++records_done;
      if (out.summary) out.summary->add(item.record, repeats, links);
      for (TableOutput& table : out.tables) table.writer->write_record(item.record, repeats);
      if (!options.masked_out.empty()) write_masked(out.masked_file.stream(), item.record, repeats, options.mask);
      item.record.bases.reset();  // freed before the next record is read
    };
    run.process(next, write);
    if (progress) progress->stop();
    for (const std::string& w : warnings) say("warning: " + w);
    if (!read_error.empty()) {
      say(read_error);
      return kExitInput;
    }
    Destination page;
    if (out.summary) {
      if (!page.open(options.html)) {
        say("cannot write '" + options.html + "'");
        return kExitOutput;
      }
      out.summary->write(page.stream());
    }
    const bool written = put_outputs_in_place(out, out.summary ? &page : nullptr, options);
    if (written) new_folder.keep();
    if (written && progress) {  // on a terminal only, like the progress line
      std::vector<std::string> written_to;
      for (const TableOutput& table : out.tables) written_to.push_back(table.name);
      if (!options.masked_out.empty()) written_to.push_back(options.masked_out);
      if (!options.html.empty()) written_to.push_back(options.html);
      if (!options.report_dir.empty()) written_to.push_back(options.report_dir + "/");
      std::fprintf(stderr, "%s\n", final_line(repeats_found, records_done, out.stretches_failed, written_to).c_str());
    }
    if (!written) return kExitOutput;
    return out.stretches_failed > 0 ? kExitNotExamined : kExitDone;
  } catch (const std::bad_alloc&) {
    say("out of memory (a record takes about 10 bytes a base per thread; try fewer --threads)");
    return kExitOutOfMemory;
  }
}

}  // namespace rivulon::batch
