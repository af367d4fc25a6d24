// The command line of rivulon-batch.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "align/sequence.h"

namespace rivulon::batch {

enum class OutputFormat { kTsv, kBed, kGff3 };
enum class MaskStyle { kNone, kSoft, kHard };

struct BatchOptions {
  // The console program's parameters, as positive numbers.
  int32_t match = 2;
  int32_t mismatch = 7;
  int32_t gap = 7;
  int32_t terminal_gap = 3;
  int32_t max_motif = 500;
  int32_t definition = 1;
  int32_t level = 80;      // definitions 1 and 2: minimum similarity level, percent
  int32_t min_score = 50;  // definition 3: minimum score
  int32_t threads = 0;     // 0: every hardware thread
  OutputFormat format = OutputFormat::kTsv;
  // Further tables in other formats from the same run (--tsv-out, --bed-out, --gff3-out).
  std::vector<std::pair<OutputFormat, std::string>> also;
  MaskStyle mask = MaskStyle::kNone;
  std::string masked_out;  // masked FASTA, when asked for
  std::string report_dir;  // classic pages per record, when asked for
  std::string html;        // the summary page, when asked for
  std::vector<std::string> regions;  // --region, in the order given
  bool keep_case = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::string input;   // "-" reads standard input
  std::string output;  // empty or "-": standard output

  // The detectors' threshold: level x 0.01, or the minimum score.
  double threshold() const { return definition == 3 ? min_score : level * 0.01; }
  Scoring scoring() const { return Scoring{match, -mismatch, -gap, -terminal_gap}; }
};

struct ParsedOptions {
  BatchOptions options;
  std::string error;  // one line naming the option and what it accepts; empty when valid
};

// Reads the arguments after the program name. --help and --version win over
// every other argument but an unknown option.
ParsedOptions parse_options(const std::vector<std::string>& args);

// The usage text --help prints.
extern const char* const kUsage;

}  // namespace rivulon::batch
