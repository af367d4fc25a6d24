#include "batch/outputs.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>

#include "batch/alignments_view.h"
#include "batch/bgzip.h"
#include "batch/destination.h"
#include "batch/formats.h"
#include "batch/progress.h"
#include "batch/run.h"
#include "batch/summary_page.h"
#include "report/escape.h"
#include "report/output_file.h"
#include "report/output_names.h"

namespace rivulon::batch {

namespace {

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

// A table of repeats in one format, to a file or standard output; with
// --bgzip a BED or GFF3 file is compressed and gets a tabix index.
struct TableOutput {
  std::string name;  // empty: standard output
  OutputFormat format = OutputFormat::kTsv;
  Destination file;
  std::unique_ptr<CompressedTable> compressed;
  Destination index;  // NAME.tbi, when the compressed file is a file of its own
  std::unique_ptr<RepeatWriter> writer;
};

// Ends a table's file: its compressed data, the file, and its index. False
// (told) when any of them could not be written whole.
bool finish_table(TableOutput& table) {
  bool written = true;
  if (table.compressed && !table.compressed->finish()) written = false;
  if (!table.file.finish() || !written) {
    say("cannot write '" + table.name + "'");
    return false;
  }
  if (!table.compressed || table.file.temporary_name().empty()) return true;
  const std::string failed = write_tabix_index(table.file.temporary_name(), table.index.temporary_name(), table.format);
  if (!failed.empty() || !table.index.finish()) {
    say("cannot index '" + table.name + "' for tabix: " + (failed.empty() ? "cannot write its index" : failed));
    return false;
  }
  return true;
}

// The outputs of a run, and what went wrong while writing them.
struct Outputs {
  std::deque<TableOutput> tables;
  Destination masked_file;  // open when --masked-out is given
  std::optional<SummaryPage> summary;
  std::string links_to_pages;  // the report folder as seen from the summary page, URL-escaped
  std::vector<OutputFile> pages;  // --classic-pages written whole, put in place at the end
  std::optional<AlignmentsView> view;  // --report-dir
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
// Every file the run writes beside the report folder (not standard output).
std::vector<std::string> output_files(const BatchOptions& o) {
  std::vector<std::string> names;
  for (const std::string& name : {o.output, o.masked_out, o.html, o.control_out}) {
    if (!name.empty() && name != "-") names.push_back(name);
  }
  for (const auto& also : o.also) {
    if (also.second != "-") names.push_back(also.second);
  }
  return names;
}

void remove_leftovers(const BatchOptions& options, std::time_t started) {
  std::vector<std::string> folders;
  // The classic pages are written in the folder, the view beside it.
  if (!options.report_dir.empty()) {
    const std::string dir = view_folder(options.report_dir);
    folders.push_back(options.classic_pages ? dir + "/" : folder_of(dir));
  }
  // An output through a link is written where the link leads.
  for (const std::string& name : output_files(options)) folders.push_back(folder_of(resolve_links(name)));
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

// Renames every output written whole over its final name: the pages first
// and `last` (the chance table, then the summary page) after everything
// else, so that no page links to one not yet there. False with the failures told.
bool rename_all(Outputs& out, const std::vector<std::pair<Destination*, std::string>>& last, const BatchOptions& options) {
  bool written = true;
  const auto placed = [&written](bool ok, const std::string& name) {
    if (!ok) {
      say("cannot put '" + name + "' in place");
      written = false;
    }
  };
  // The view first: when it cannot be put in place, nothing else is.
  if (out.view) {
    if (const std::string why = out.view->put_in_place(); !why.empty()) {
      say(why);
      say("nothing was replaced: the outputs stay as they were");
      return false;
    }
  }
  for (OutputFile& p : out.pages) placed(p.put_in_place(), p.final_name());
  if (!options.masked_out.empty()) placed(out.masked_file.put_in_place(), options.masked_out);
  for (TableOutput& table : out.tables) {
    if (!table.name.empty()) placed(table.file.put_in_place(), table.name);
    if (table.compressed && !table.index.temporary_name().empty()) placed(table.index.put_in_place(), table.name + ".tbi");
  }
  for (const auto& [file, name] : last) placed(file->put_in_place(), name);
  return written;
}

// Puts every output in place, or none: all are written whole first; then the
// renames run with the ending signals held back, so that an interruption
// leaves the earlier outputs or the new ones, not a mix. False with the
// failures told when anything could not be written whole.
bool place_all(Outputs& out, const std::vector<std::pair<Destination*, std::string>>& last, const BatchOptions& options) {
  bool written = !out.pages_failed;
  const auto finish = [&written](Destination& d, const std::string& name) {
    if (!d.finish()) {
      say("cannot write '" + name + "'");
      written = false;
    }
  };
  for (const auto& [file, name] : last) finish(*file, name);
  if (!options.masked_out.empty()) finish(out.masked_file, options.masked_out);
  for (TableOutput& table : out.tables) {
    if (table.name.empty()) {
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        say("cannot write the repeats to standard output");
        written = false;
      }
    } else if (!finish_table(table)) {
      written = false;
    }
  }
  if (!written) {
    say("nothing was replaced: the outputs stay as they were");
    return false;
  }
  sigset_t block, previous;
  sigemptyset(&block);
  for (const int s : kEndingSignals) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  written = rename_all(out, last, options);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

// The report folder made ready: created, held alone, its leftovers removed.
std::string open_report_folder(const std::string& dir) {
  std::error_code failed;
  std::filesystem::create_directories(dir, failed);
  if (failed || !std::filesystem::is_directory(dir)) return "cannot create the folder '" + dir + "'";
  // Held until the process ends: no other run writes pages there meanwhile.
  if (lock_folder(dir, /*alone=*/true) == -1) {
    return "another run is writing pages in '" + dir + "'; try again when it has finished";
  }
  return "";
}

// The warning for a stretch that could not be examined.
std::string not_examined(const std::string& label, const Failure& failure) {
  return label + " was not examined: " + failure.message;
}

}  // namespace

struct RunOutputs::State {
  const BatchOptions& options;
  NewFolder new_folder;  // before `out`: its temporaries go first
  Outputs out;
  std::vector<std::string> warnings;
  int64_t repeats_written = 0, records_written = 0;
  // --control: per shuffle, the chance calls of every stretch by period
  // class, and the bases of the stretches examined.
  std::vector<std::array<int64_t, 4>> chance;
  int64_t chance_bases = 0;
  const Annotation* annotation = nullptr;

  State(const BatchOptions& o) : options(o), new_folder(o.classic_pages ? o.report_dir : std::string()) {}
  std::string open_tables();
  void take_stretch(RecordWork& item, size_t k, std::vector<FoundRepeat>& repeats, std::vector<RepeatStatistics>& statistics,
                    std::vector<std::string>& links, std::vector<CopyLayout>& layouts);
};

RunOutputs::RunOutputs(const BatchOptions& options, const Annotation* annotation)
    : state_(std::make_unique<State>(options)) {
  state_->annotation = annotation;
}
RunOutputs::~RunOutputs() = default;

std::string RunOutputs::State::open_tables() {
  std::vector<std::pair<OutputFormat, std::string>> all = {{options.format, options.output}};
  all.insert(all.end(), options.also.begin(), options.also.end());
  for (const auto& [format, name] : all) {
    TableOutput& table = out.tables.emplace_back();
    table.format = format;
    std::FILE* stream = stdout;
    if (!name.empty() && name != "-") {
      table.name = name;
      if (!table.file.open(name)) return "cannot write '" + name + "'";
      stream = table.file.stream();
      if (options.bgzip && (format == OutputFormat::kBed || format == OutputFormat::kGff3)) {
        table.compressed = std::make_unique<CompressedTable>();
        if (!table.compressed->open(stream)) return "cannot write '" + name + "'";
        stream = table.compressed->stream();
        if (!table.file.temporary_name().empty() && !table.index.open(name + ".tbi")) {
          return "cannot write '" + name + ".tbi'";
        }
      }
    }
    table.writer = std::make_unique<RepeatWriter>(stream, options, format, annotation);
    table.writer->write_header();
  }
  return "";
}

namespace {

// An output file that cannot be written (a folder by that name, or no folder
// to write it in), told before any work: "" when none.
std::string unwritable_output(const BatchOptions& o) {
  for (const std::string& name : output_files(o)) {
    std::error_code failed;
    if (std::filesystem::is_directory(name, failed)) return "cannot write '" + name + "': it is a folder";
    const std::string folder = folder_of(resolve_links(name));
    if (!folder.empty() && !std::filesystem::is_directory(folder, failed)) {
      return "cannot write '" + name + "': there is no folder '" + folder + "'";
    }
  }
  return "";
}

}  // namespace

std::string RunOutputs::open(std::time_t started) {
  State& s = *state_;
  const BatchOptions& o = s.options;
  if (std::string error = unwritable_output(o); !error.empty()) return error;
  if (!o.report_dir.empty() && o.classic_pages) {
    if (std::string error = open_report_folder(o.report_dir); !error.empty()) return error;
  } else if (!o.report_dir.empty()) {
    if (std::string error = s.out.view.emplace(o).open(); !error.empty()) return error;
  }
  remove_leftovers(o, started);
  if (std::string error = s.open_tables(); !error.empty()) return error;
  if (!o.masked_out.empty() && !s.out.masked_file.open(o.masked_out)) return "cannot write '" + o.masked_out + "'";
  if (!o.html.empty()) {
    s.out.summary.emplace(o);
    if (!o.report_dir.empty()) s.out.links_to_pages = folder_link(o.report_dir, o.html);
  }
  return "";
}

void RunOutputs::State::take_stretch(RecordWork& item, size_t k, std::vector<FoundRepeat>& repeats,
                                     std::vector<RepeatStatistics>& statistics, std::vector<std::string>& links,
                                     std::vector<CopyLayout>& layouts) {
  StretchResult& r = item.results[k];
  const std::string label = stretch_label(item.record, item.segments[k], ":");
  if (r.failure) {
    ++out.stretches_failed;
    warnings.push_back(not_examined(label, *r.failure));
  }
  for (OutputFile& page : r.unplaced) out.pages.push_back(std::move(page));
  if (!r.pages.empty()) {
    out.pages_failed = true;
    warnings.push_back("the pages of " + label + " could not all be written in '" + options.report_dir + "'");
  }
  if (out.summary && out.view) {
    const std::string page = out.links_to_pages + AlignmentsView::page_name(records_written + 1) + "#repeat-";
    for (size_t j = 0; j < r.repeats.size(); ++j) links.push_back(page + std::to_string(repeats.size() + j + 1));
  } else if (out.summary && !options.report_dir.empty()) {
    const std::string page = url_escape(stretch_pages(item.record, item.segments[k]).alignments);
    for (int32_t row : r.page_rows) {
      links.push_back(out.links_to_pages + page + (row > 0 ? std::string("#").append(std::to_string(row)) : std::string()));
    }
  }
  repeats.insert(repeats.end(), r.repeats.begin(), r.repeats.end());
  statistics.insert(statistics.end(), r.statistics.begin(), r.statistics.end());
  layouts.insert(layouts.end(), std::make_move_iterator(r.layouts.begin()), std::make_move_iterator(r.layouts.end()));
  if (!r.chance.empty()) {
    chance.resize(r.chance.size(), {0, 0, 0, 0});
    for (size_t shuffle = 0; shuffle < r.chance.size(); ++shuffle) {
      for (size_t c = 0; c < 4; ++c) chance[shuffle][c] += r.chance[shuffle][c];
    }
    chance_bases += item.segments[k].length();
  }
}

namespace {


// Chance calls of one period class over the shuffles: all of them, and the
// mean, fewest and most per Mb.
struct ChanceRate {
  int64_t calls = 0;
  double mean = 0, low = 0, high = 0;
};

ChanceRate chance_rate(const std::vector<std::array<int64_t, 4>>& chance, int64_t bases, size_t period_class) {
  const double mb = static_cast<double>(std::max<int64_t>(bases, 1)) / 1e6;
  int64_t low = INT64_MAX, high = 0;
  ChanceRate rate;
  for (const auto& counts : chance) {
    rate.calls += counts[period_class];
    low = std::min(low, counts[period_class]);
    high = std::max(high, counts[period_class]);
  }
  rate.mean = static_cast<double>(rate.calls) / static_cast<double>(chance.size()) / mb;
  rate.low = static_cast<double>(low) / mb;
  rate.high = static_cast<double>(high) / mb;
  return rate;
}

}  // namespace

std::string RunOutputs::chance_line() const {
  const State& s = *state_;
  if (s.chance.empty()) return "";
  std::string line = "chance calls per Mb on " + std::to_string(s.chance.size()) +
                     " dinucleotide shuffle(s) of every stretch (mean, range):";
  for (size_t c = 0; c < 4; ++c) {
    const ChanceRate rate = chance_rate(s.chance, s.chance_bases, c);
    char part[128];
    std::snprintf(part, sizeof part, "%s %s %.2f (%.2f-%.2f)", c == 0 ? "" : ";", c == 0 ? "all periods" : period_class_name(c - 1).c_str(),
                  rate.mean, rate.low, rate.high);
    line += part;
  }
  return line;
}

void RunOutputs::write_chance_table(std::FILE* out) const {
  const State& s = *state_;
  write_provenance(out, s.options, "#", "chance TSV schema 1");
  std::fputs("period_class\tshuffles\tbases_per_shuffle\tcalls\tmean_per_Mb\tmin_per_Mb\tmax_per_Mb\n", out);
  if (s.chance.empty()) return;
  for (size_t c = 0; c < 4; ++c) {
    const ChanceRate rate = chance_rate(s.chance, s.chance_bases, c);
    std::fprintf(out, "%s\t%zu\t%lld\t%lld\t%.2f\t%.2f\t%.2f\n", c == 0 ? "all" : period_class_name(c - 1).c_str(),
                 s.chance.size(),
                 static_cast<long long>(s.chance_bases), static_cast<long long>(rate.calls), rate.mean, rate.low, rate.high);
  }
}

void RunOutputs::add(RecordWork& item) {
  State& s = *state_;
  std::vector<FoundRepeat> repeats;
  std::vector<RepeatStatistics> statistics;
  std::vector<std::string> links;
  std::vector<CopyLayout> layouts;
  for (size_t k = 0; k < item.results.size(); ++k) s.take_stretch(item, k, repeats, statistics, links, layouts);
  if (s.out.view && !s.out.view->add(item.record, s.records_written + 1, repeats, statistics, layouts)) {
    s.out.pages_failed = true;
    s.warnings.push_back("the alignments of " + item.record.name + " could not be written in '" +
                         s.options.report_dir + "'");
  }
  s.repeats_written += static_cast<int64_t>(repeats.size());
  ++s.records_written;
  if (s.out.summary) s.out.summary->add(item.record, repeats, statistics, links);
  for (TableOutput& table : s.out.tables) table.writer->write_record(item.record, repeats, statistics);
  if (!s.options.masked_out.empty()) write_masked(s.out.masked_file.stream(), item.record, repeats, s.options.mask);
  item.record.bases.reset();  // freed before the next record is read
}

const std::vector<std::string>& RunOutputs::warnings() const { return state_->warnings; }
int64_t RunOutputs::stretches_not_examined() const { return state_->out.stretches_failed; }

bool RunOutputs::put_in_place() {
  State& s = *state_;
  Destination table, page;
  std::vector<std::pair<Destination*, std::string>> last;
  if (!s.options.control_out.empty()) {
    if (!table.open(s.options.control_out)) {
      say("cannot write '" + s.options.control_out + "'");
      return false;
    }
    write_chance_table(table.stream());
    last.emplace_back(&table, s.options.control_out);
  }
  if (s.out.view && !s.out.view->finish()) {
    say("cannot write the alignments view in '" + s.options.report_dir + "'");
    s.out.pages_failed = true;
  }
  if (s.out.summary) {
    if (!page.open(s.options.html)) {
      say("cannot write '" + s.options.html + "'");
      return false;
    }
    s.out.summary->set_chance(chance_line());
    s.out.summary->write(page.stream());
    last.emplace_back(&page, s.options.html);
  }
  const bool written = place_all(s.out, last, s.options);
  if (written) s.new_folder.keep();
  return written;
}

std::string RunOutputs::closing_line() const {
  const State& s = *state_;
  std::vector<std::string> written_to;
  for (const TableOutput& table : s.out.tables) written_to.push_back(table.name);
  if (!s.options.masked_out.empty()) written_to.push_back(s.options.masked_out);
  if (!s.options.control_out.empty()) written_to.push_back(s.options.control_out);
  if (!s.options.html.empty()) written_to.push_back(s.options.html);
  if (!s.options.report_dir.empty()) written_to.push_back(s.options.report_dir + "/");
  return final_line(s.repeats_written, s.records_written, s.out.stretches_failed, written_to);
}

}  // namespace rivulon::batch
