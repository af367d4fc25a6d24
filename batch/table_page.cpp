#include "batch/table_page.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/destination.h"
#include "batch/formats.h"
#include "batch/record_names.h"
#include "batch/run.h"
#include "batch/summary_page.h"
#include "batch/text_lines.h"
#include "rivulon/genome.h"

namespace rivulon::batch {

namespace {

// Bounds motif lengths and periods far inside int32_t.
constexpr int64_t kLongestMotif = 1000000;

// A table's rows, taken record by record.
class Table {
 public:
  Table(const BatchOptions& options) : options_(options), path_(options.from_table) {}

  // Reads the heading: "" when it is one of this program's TSV tables,
  // written with this run's parameters; otherwise why not.
  std::string open();
  // The rows of the record `name` of `length` bases, which come next (none
  // when the next row names another record). False with `error()` set.
  bool rows_of(const std::string& name, int64_t length, std::vector<TableRepeat>& rows);
  // "" when every row was taken by a record.
  std::string rest() const;
  const std::string& error() const { return error_; }

 private:
  // The places of the columns the page reads, in the order of kNeeded.
  static constexpr size_t kSeqid = 0, kStart = 1, kEnd = 2, kMotifLength = 3, kUnits = 4, kValue = 5, kMotif = 6,
                          kPeriod = 7;
  std::string columns(const std::string& line);
  void read_row();  // the next row into row_ (empty at the end)
  bool fail(const std::string& what) {
    error_ = "'" + path_ + "' line " + std::to_string(lines_.number()) + ": " + what;
    return false;
  }

  const BatchOptions& options_;
  const std::string path_;
  TextLines lines_;
  std::vector<size_t> at_;  // a column's place in a row, by the constants above
  size_t width_ = 0;        // columns in a row
  std::vector<std::string> row_;
  std::string error_;
};

std::string Table::open() {
  const std::string not_ours = "'" + path_ + "' is no TSV table of rivulon-batch";
  if (!lines_.open(path_)) return "cannot read the table '" + path_ + "'";
  std::string line;
  if (!lines_.next(line) || line.rfind("#rivulon-batch ", 0) != 0 || line.find(", TSV schema ") == std::string::npos) {
    return lines_.failed() ? "cannot read the table '" + path_ + "'" : not_ours + " (its first line is not \"#rivulon-batch ..., TSV schema ...\")";
  }
  bool parameters = false;
  while (lines_.next(line) && line.rfind('#', 0) == 0) {
    static const std::string kMark = "#parameters: ";
    if (line.rfind(kMark, 0) != 0) continue;
    parameters = true;
    const std::string ours = run_parameters(options_);
    if (line.substr(kMark.size()) != ours) {
      return "'" + path_ + "' was written with other parameters (" + line.substr(kMark.size()) +
             "; this command has " + ours + "): give the options of the run that wrote it";
    }
  }
  if (lines_.failed()) return "cannot read the table '" + path_ + "'";
  if (!parameters) return not_ours + " (no \"#parameters:\" line)";
  if (std::string error = columns(line); !error.empty()) return error;
  read_row();
  return error_;
}

std::string Table::columns(const std::string& line) {
  const std::vector<std::string> names = split_tabs(line);
  const char* const kNeeded[] = {"seqid", "start",  "end",   "motif_length",
                                 "units", options_.definition == 3 ? "pattern_score" : "similarity",
                                 "motif", "period"};
  for (const char* needed : kNeeded) {
    size_t k = 0;
    while (k < names.size() && names[k] != needed) ++k;
    if (k == names.size() || names[0] != "seqid") {
      return "'" + path_ + "' has no column '" + needed + "' after its comment lines (a table of definition " +
             std::to_string(options_.definition) + " names its columns there, seqid first)";
    }
    at_.push_back(k);
  }
  width_ = names.size();
  return "";
}

void Table::read_row() {
  row_.clear();
  std::string line;
  if (!lines_.next(line)) {
    if (lines_.failed()) error_ = "cannot read the table '" + path_ + "'";
    return;
  }
  row_ = split_tabs(line);
  if (row_.size() != width_) {
    fail("a row of " + std::to_string(row_.size()) + " columns where the heading names " + std::to_string(width_));
    row_.clear();
  }
}

bool Table::rows_of(const std::string& name, int64_t length, std::vector<TableRepeat>& rows) {
  rows.clear();
  for (; error_.empty() && !row_.empty() && row_[at_[kSeqid]] == name; read_row()) {
    const std::vector<std::string>& f = row_;
    const std::optional<int64_t> start = whole(f[at_[kStart]]), end = whole(f[at_[kEnd]]);
    const std::optional<int64_t> motif = whole(f[at_[kMotifLength]]), period = whole(f[at_[kPeriod]]);
    const std::string& value_text = f[at_[kValue]];
    char* value_end = nullptr;
    const double value = std::strtod(value_text.c_str(), &value_end);
    if (!start || !end || *start < 1 || *end < *start || *end > length) {
      return fail("no repeat of '" + name + "' (" + std::to_string(length) + " bases) from " + f[at_[kStart]] +
                  " to " + f[at_[kEnd]]);
    }
    if (!motif || !period || *motif < 1 || *motif > kLongestMotif || *period > kLongestMotif) {
      return fail("a motif length or period that is no whole number from 1 to " + std::to_string(kLongestMotif));
    }
    if (value_text.empty() || *value_end != '\0' || !std::isfinite(value)) return fail("'" + value_text + "' is no number");
    if (!rows.empty() && *start - 1 < rows.back().start) return fail("the rows of '" + name + "' are not by start");
    rows.push_back({*start - 1, *end, static_cast<int32_t>(*motif), static_cast<int32_t>(*period), value,
                    f[at_[kUnits]], value_text, f[at_[kMotif]]});
  }
  return error_.empty();
}

std::string Table::rest() const {
  if (!error_.empty() || row_.empty()) return error_;
  return "'" + path_ + "' line " + std::to_string(lines_.number()) + ": a repeat of '" + row_[at_[kSeqid]] +
         "', which is not the input's next record (the rows must follow the input's records in order)";
}

}  // namespace

int page_from_table(const BatchOptions& options) {
  Table table(options);
  FastaReader reader;
  if (std::string error = table.open(); !error.empty() || !reader.open(options.input, {})) {
    say(error.empty() ? reader.error() : error);
    return kExitInput;
  }
  if (!reader.warning().empty()) say("warning: " + reader.warning());
  SummaryPage summary(options);
  RecordNames names;
  FastaRecord record;
  std::vector<TableRepeat> rows;
  int64_t records = 0;
  for (FastaReader::Status got; (got = reader.next(record)) != FastaReader::Status::kEnd; ++records) {
    std::string error = got == FastaReader::Status::kError ? reader.error() : names.check(record.name);
    if (error.empty() && !table.rows_of(record.name, record.record_length, rows)) error = table.error();
    if (!error.empty()) {
      say(error);
      return kExitInput;
    }
    summary.add(record.name, record.record_length, rows);
    record.bases.reset();
  }
  std::string error = records == 0 ? "'" + options.input + "' holds no FASTA record" : table.rest();
  if (!error.empty()) {
    say(error);
    return kExitInput;
  }
  Destination page;
  if (!page.open(options.html)) {
    say("cannot write '" + options.html + "'");
    return kExitOutput;
  }
  summary.write(page.stream());
  if (!page.commit()) {
    say("cannot write '" + options.html + "'");
    return kExitOutput;
  }
  return kExitDone;
}

}  // namespace rivulon::batch
