#include "driver/run.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <memory>
#include <variant>

#include "cli/progress_line.h"
#include "driver/dialogue.h"
#include "driver/fatal.h"
#include "driver/messages.h"
#include "driver/run_guard.h"
#include "driver/sequence.h"
#include "report/coding_regions.h"
#include "report/output_file.h"
#include "report/output_names.h"
#include "report/page.h"
#include "report/report_writer.h"
#include "rivulon/rivulon.h"

namespace rivulon {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Puts the page that stands under the report page's name while the run works;
// from then on the page is guarded.
void put_provisional_page(const std::string& report_page) {
  OutputFile provisional;
  bool written = provisional.open(report_page);
  if (written) write_provisional_page(provisional.stream());
  {
    // A signal between the rename and the guard would leave the provisional
    // page for good: it waits until the failure page is due.
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &previous);
    written = written && provisional.commit();
    if (written) guard_report_page(report_page);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  if (!written) {
    std::fputs(kOutputWriteError, stdout);
  }
}

// Opens the sequence file, which stays open until the end of the run. A
// directory (it opens for reading here but yields no bytes) and the very file
// the dialogue reads from (their bytes would be shared) are no sequence files.
std::FILE* open_sequence_file(const std::string& name) {
  std::FILE* input = std::fopen(name.c_str(), "r");
  struct stat info {}, console {};
  const bool usable = input != nullptr && fstat(fileno(input), &info) == 0 && !S_ISDIR(info.st_mode) &&
                      !(fstat(fileno(stdin), &console) == 0 && console.st_dev == info.st_dev &&
                        console.st_ino == info.st_ino);
  if (!usable) {
    if (input != nullptr) std::fclose(input);
    std::fputs(kSequenceUnreadableMessage, stdout);
    fatal(kExitSequenceUnreadable);
  }
  return input;
}

// RIVULON_THREADS when it names a positive number, otherwise every hardware thread.
int32_t thread_count() {
  if (const char* chosen = std::getenv("RIVULON_THREADS")) {
    char* end = nullptr;
    const long value = std::strtol(chosen, &end, 10);
    if (end != chosen && *end == '\0' && value > 0) return static_cast<int32_t>(std::min(value, 256L));
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int32_t>(std::min(hardware, 256U)) : 1;
}

// Ends the run on a failed detection with its message and status.
[[noreturn]] void detection_failed(const Failure& failure) {
  if (failure.cause == Failure::Cause::kNoQuota) {
    show_no_quota(stderr, failure.motif_length, failure.window);
    fatal(kExitNoQuota, no_quota_reason(failure.motif_length, failure.window));
  }
  show_parameter_error(stdout, kMsgBugCheck);
  fatal(kExitInternalCheck, kBugCheckReason);
}

// The coding-region file's name: the command line's under definition 1; one
// word read from standard input under definitions 2 and 3 (definition 3 asks
// for it first), the command line's at the end of input.
std::string coding_file_name(const RunSettings& s) {
  if (s.definition == 1) return *s.coding_file;
  if (s.definition == 3) {
    std::fputs(kFileNamePrompt, stdout);
    std::fflush(stdout);
  }
  char word[4096];
  if (std::scanf("%4095s", word) == 1) return word;
  return *s.coding_file;
}

// The coding region of every repeat. An unreadable file waits for a key and
// ends the run with status 1.
std::vector<std::string> coding_regions_of(const RunSettings& s, const std::vector<Repeat>& repeats, int64_t n) {
  const std::optional<CodingRegionTable> regions = read_coding_regions(coding_file_name(s));
  if (!regions) {
    std::fputs(kCodingFileUnreadableMessage, stdout);
    std::fflush(stdout);
    std::getc(stdin);
    fatal(kExitCodingFileUnreadable, kCodingFileUnreadableReason);
  }
  return coding_region_names(*regions, repeats, n);
}

// Tells of the pages that could not be written: a message each, then one
// line naming them all, and the run ends with status 73.
void report_page_failures(const PageFailures& failures, const RunSettings& s) {
  if (std::find(failures.begin(), failures.end(), Page::kReport) == failures.end()) {
    report_page_settled();
  }
  for (Page page : failures) {
    std::fputs(page == Page::kReport && s.definition == 2 ? kOutputWriteError : kInputWriteError,
               stdout);
  }
  if (failures.empty()) return;
  std::string names;
  for (Page page : failures) {
    if (!names.empty()) names += ", ";
    names += page == Page::kReport       ? report_page_name(s.sequence_file)
             : page == Page::kAlignments ? alignments_page_name(s.sequence_file)
                                         : text_report_name(s.sequence_file);
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s%s\n", kPagesUnwrittenLine, names.c_str());
  fatal(kExitPagesUnwritten, kPagesUnwrittenReason);
}

// The repeats of the sequence, or the end of the run. While standard error
// is a terminal, a progress line there tells which motif length is being
// screened; it is cleared before anything else is said.
std::vector<Repeat> detect_with_progress(const RunSettings& s, std::string_view bases) {
  Result found;
  {
    std::atomic<int32_t> done{0};
    RunControl control{thread_count()};
    std::optional<cli::ProgressLine> progress;
    if (isatty(STDERR_FILENO)) {
      control.lengths_done = &done;
      progress.emplace(stderr, [&done, M = motif_lengths_examined(s, static_cast<int64_t>(bases.size()))](
                                   double elapsed) { return progress_text(done.load(std::memory_order_relaxed), M, elapsed); });
    }
    Workspace workspace;
    found = find_repeats(bases, s, workspace, control);
  }
  if (const Failure* failure = std::get_if<Failure>(&found)) detection_failed(*failure);
  return std::move(std::get<std::vector<Repeat>>(found));
}

// On a terminal, where the pages went (standard error).
void show_pages_written(const RunSettings& s) {
  if (!isatty(STDERR_FILENO)) return;
  auto show = [](const char* format, const std::string& name) {
    std::error_code failed;
    const std::filesystem::path path = std::filesystem::absolute(name, failed);
    std::fprintf(stderr, format, failed ? name.c_str() : path.c_str());
  };
  show(kReportPageWritten, report_page_name(s.sequence_file));
  if (s.alignments) show(kAlignmentsPageWritten, alignments_page_name(s.sequence_file));
  if (s.text_report) show(kTextReportWritten, text_report_name(s.sequence_file));
}

// The pages of the repeats, the coding regions read first when asked for.
void finish_run(const RunSettings& s, std::string_view bases, const std::vector<Repeat>& repeats) {
  std::optional<std::vector<std::string>> coding;
  if (s.coding_file) coding = coding_regions_of(s, repeats, static_cast<int64_t>(bases.size()));
  const ReportRequest request{page_names_for(s.sequence_file), s.alignments, s.text_report,
                              coding ? &*coding : nullptr, ""};
  report_page_failures(write_report(request, bases, s, repeats), s);
  show_pages_written(s);
}

}  // namespace

int run_rivulon(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelpText, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    show_version(stdout);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    show_parameter_error(stdout, kMsgUsage);
    fatal(kExitArguments);
  }
  RunSettings settings;
  settings.sequence_file = argv[1];
  if (argc == 3) settings.coding_file = std::string(argv[2]);
  run_dialogue(stdin, stdout, settings);

  const std::time_t started = std::time(nullptr);
  std::unique_ptr<std::FILE, FileCloser> input(open_sequence_file(settings.sequence_file));
  const std::string report_page = report_page_name(settings.sequence_file);
  if (!lock_report_page(report_page)) {
    std::printf(kFolderBusyMessage, report_page.c_str());
    fatal(kExitFolderBusy);
  }
  remove_stale_temporaries("", started);
  put_provisional_page(report_page);

  const Sequence seq = load_sequence(input.get());
  if (std::ferror(input.get())) {  // a read error is not the end of the sequence
    std::fputs(kSequenceUnreadableMessage, stdout);
    fatal(kExitSequenceUnreadable, kSequenceUnreadableReason);
  }
  finish_run(settings, seq.view(), detect_with_progress(settings, seq.view()));
  return 0;
}

}  // namespace rivulon
