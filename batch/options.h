// The command line of rivulon-batch.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "rivulon/rivulon.h"

namespace rivulon::batch {

// The repeat tables: TSV, BED, GFF3, and TRF's .dat and -ngs layouts.
enum class OutputFormat { kTsv, kBed, kGff3, kTrfDat, kTrfNgs };
enum class MaskStyle { kNone, kSoft, kHard };
enum class Overlaps { kBest, kAll };  // one call per locus, or every call the definition gives

// The detection's parameters (rivulon::Options, with their defaults and
// ranges), and what the batch program adds around them.
struct BatchOptions : Options {
  Overlaps overlaps = Overlaps::kBest;
  bool adjacent_copies = true;  // with kBest and definition 3: also the adjacent-copy search
  // Filters on the calls kept, by their statistics: copies, length (bases),
  // percent matches of adjacent copies, score against the consensus.
  double min_copies = 0;
  int64_t min_length = 0;
  int32_t min_identity = 0;
  int64_t min_consensus_score = 0;
  int32_t control = 0;  // dinucleotide shuffles of each stretch examined for chance calls
  std::string control_out;  // the chance rates as a TSV, when asked for
  int32_t flanks = -1;  // >= 0: TSV columns with each call's letters and this many on each side
  int32_t threads = 0;     // 0: every hardware thread
  OutputFormat format = OutputFormat::kTsv;
  // Further tables in other formats from the same run (--tsv-out, --bed-out, --gff3-out).
  std::vector<std::pair<OutputFormat, std::string>> also;
  MaskStyle mask = MaskStyle::kNone;
  std::string masked_out;  // masked FASTA, when asked for
  std::string report_dir;  // the alignments view (or the classic pages), when asked for
  bool classic_pages = false;  // --report-dir writes the console program's pages per stretch
  std::string html;        // the summary page, when asked for
  // A TSV table of an earlier run over the input: the summary page is made
  // from its rows instead of looking for repeats.
  std::string from_table;
  std::string annotation;  // GFF3 or BED features the repeats are told to overlap
  std::vector<std::string> regions;  // --region, in the order given
  bool keep_case = false;
  bool bgzip = false;  // BED and GFF3 files compressed with BGZF and indexed for tabix
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::string input;   // "-" reads standard input
  std::string output;  // empty or "-": standard output
  std::string command;  // the command line, as the outputs' headers state it
};

// The calls the options report (--overlaps, --adjacent-copies, the filters).
inline Reporting reporting_of(const BatchOptions& o) {
  return {o.overlaps == Overlaps::kBest, o.adjacent_copies, o.min_copies, o.min_length, o.min_identity,
          o.min_consensus_score, nullptr};
}

struct ParsedOptions {
  BatchOptions options;
  std::string error;  // one line naming the option and what it accepts; empty when valid
};

// Reads the arguments after the program name. --help and --version win over
// every other argument but an unknown option.
ParsedOptions parse_options(const std::vector<std::string>& args);

// The command line as a shell would take it again: "rivulon-batch" and the
// arguments, those with other than letters, digits and _./:=+,-@% in single
// quotes, control characters shown as '?'.
std::string command_line(const std::vector<std::string>& args);

// The usage text --help prints.
std::string usage();

}  // namespace rivulon::batch
