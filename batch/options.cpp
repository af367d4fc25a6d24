#include "batch/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace rivulon::batch {

namespace {

// The usage text around the detection's parameters, which come from their table.
constexpr const char* kUsageHead =
    "Usage: rivulon-batch [options] GENOME.fa[.gz] [-o OUT]\n"
    "Finds approximate tandem repeats in every record of a FASTA file (plain, gzip or\n"
    "bgzip; '-' reads standard input) and writes them as TSV, BED or GFF3.\n"
    "\n"
    "Scoring and detection (the console program's parameters; definition 3 is the\n"
    "default: see the README for what each definition finds and reports by chance):\n";
constexpr const char* kUsageRest =
    "\n"
    "Calls:\n"
    "  --overlaps O       best: one call per locus, the one with the highest score\n"
    "                     against its consensus, its bounds where that consensus aligns;\n"
    "                     all: every call of the definition, as the console program\n"
    "                     lists them (best)\n"
    "  --adjacent-copies yes|no\n"
    "                     with --overlaps best and definition 3, also search for two or\n"
    "                     more adjacent copies of a motif of 7 bases or more that the\n"
    "                     definition's screening leaves out (yes)\n"
    "  --min-copies X     keep calls with at least X copies of their consensus (0)\n"
    "  --min-length N     keep calls of at least N bases (0)\n"
    "  --min-identity P   keep calls whose adjacent copies match at P percent or more (0)\n"
    "  --min-consensus-score N\n"
    "                     keep calls scoring at least N against their consensus (0)\n"
    "  --control N        also examine N dinucleotide shuffles of every stretch (same\n"
    "                     options, fixed seeds) and report the calls chance makes per Mb,\n"
    "                     by period class, on standard error and in the summary page\n"
    "  --control-out FILE also write those rates as a TSV (implies --control 1)\n"
    "\n"
    "Input:\n"
    "  --region R         only chr, chr:start-end or chr:start (1-based, inclusive) of an\n"
    "                     indexed FASTA (samtools faidx); may be repeated\n"
    "  --keep-case        compare bases as written (default: fold to upper case)\n"
    "  --flanks N         TSV: add each call's letters and N letters on each side (0..10000)\n"
    "  --annotation FILE  GFF3 or BED (plain or gzip): name the gene, mRNA, CDS and exon\n"
    "                     features (GFF3) or the lines (BED) each repeat overlaps, in a\n"
    "                     last TSV column and a GFF3 attribute\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE  write the repeats to FILE (default: standard output)\n"
    "  --format F         tsv, bed, gff3, trf-dat or trf-ngs (TRF's .dat and -ngs\n"
    "                     layouts) (tsv)\n"
    "  --tsv-out FILE, --bed-out FILE, --gff3-out FILE\n"
    "                     also write the repeats in that format to FILE\n"
    "  --mask S           soft (lower case) or hard (N): with --masked-out\n"
    "  --masked-out FILE  also write the input with its repeats masked (soft unless --mask)\n"
    "  --bgzip            compress the BED and GFF3 files with BGZF and index them for\n"
    "                     tabix (FILE.tbi), for genome browsers\n"
    "  --report-dir DIR   also write the alignments view into the folder DIR: a page per\n"
    "                     record, every repeat's copies aligned to its consensus (DIR is\n"
    "                     replaced whole at the end of the run)\n"
    "  --classic-pages    --report-dir holds the console program's pages instead: report\n"
    "                     page, alignments page and text report of every stretch\n"
    "  --html FILE        also write a summary page: counts, tracks, a histogram and a\n"
    "                     table to sort and filter (linked to the --report-dir pages)\n"
    "  --from-table TSV   make the --html page from TSV, the table of an earlier run\n"
    "                     over INPUT with the same options (for example gathered from\n"
    "                     the workflow's pieces), instead of looking for repeats\n"
    "  -t, --threads N    threads, 1..1024 (every hardware thread)\n"
    "  -q, --quiet        no progress on standard error\n"
    "  -h, --help         this text\n"
    "  -V, --version      the version\n"
    "\n"
    "Exit status: 0 done; 1 input unreadable or without records; 2 bad command line;\n"
    "3 output not written; 4 out of memory; 5 stretches left out (the parameters give\n"
    "no significance quota for them; named on standard error).\n";

}  // namespace

std::string usage() {
  const Options defaults;
  std::string text = kUsageHead;
  for (const Parameter& p : parameters()) {
    std::string name = std::string(p.option) + " " + p.value_name;
    name.resize(std::max<size_t>(name.size() + 1, 19), ' ');
    std::string meaning = p.meaning;
    for (size_t at = meaning.find('\n'); at != std::string::npos; at = meaning.find('\n', at + 1)) {
      meaning.insert(at + 1, 21, ' ');
    }
    text += "  " + name + meaning + " (" + std::to_string(defaults.*p.field) + ")\n";
  }
  return text + kUsageRest;
}

namespace {

// A whole number in [lo, hi] written as plain digits (an optional '+'), or nothing.
std::optional<int64_t> whole_number(const std::string& text, int64_t lo, int64_t hi) {
  size_t i = text.size() > 0 && text[0] == '+' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > hi) return std::nullopt;  // also keeps the value far from overflow
  }
  if (value < lo) return std::nullopt;
  return value;
}

// The table format called `name` (tsv, bed, gff3).
std::optional<OutputFormat> format_named(const std::string& name) {
  if (name == "tsv") return OutputFormat::kTsv;
  if (name == "bed") return OutputFormat::kBed;
  if (name == "gff3") return OutputFormat::kGff3;
  if (name == "trf-dat") return OutputFormat::kTrfDat;
  if (name == "trf-ngs") return OutputFormat::kTrfNgs;
  return std::nullopt;
}

struct Parser {
  ParsedOptions result;
  std::optional<std::string> level_text;
  bool min_score_given = false;

  bool fail(const std::string& message) {
    if (result.error.empty()) result.error = message;
    return false;
  }

  bool number(const std::string& option, const std::string& value, int64_t lo, int64_t hi,
              int32_t& into) {
    std::optional<int64_t> parsed = whole_number(value, lo, hi);
    if (!parsed) {
      return fail(option + " must be a whole number from " + std::to_string(lo) + " to " +
                  std::to_string(hi) + " (got '" + value + "')");
    }
    into = static_cast<int32_t>(*parsed);
    return true;
  }

  // A number such as 2, 2.5 or .5, from 0 to 1,000,000.
  bool decimal(const std::string& option, const std::string& value, double& into) {
    const size_t point = value.find('.');
    const std::string whole = value.substr(0, point), part = point == std::string::npos ? "" : value.substr(point + 1);
    const bool digits = !(whole.empty() && part.empty()) &&
                        std::all_of(whole.begin(), whole.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                        std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    const double parsed = digits ? std::strtod(value.c_str(), nullptr) : -1;
    if (!digits || parsed > 1e6) return fail(option + " must be a number from 0 to 1000000 (got '" + value + "')");
    into = parsed;
    return true;
  }

  // An option that chooses or filters the calls; nothing when `option` is another.
  std::optional<bool> take_call_option(const std::string& option, const std::string& value) {
    BatchOptions& o = result.options;
    if (option == "--overlaps") {
      if (value == "best") o.overlaps = Overlaps::kBest;
      else if (value == "all") o.overlaps = Overlaps::kAll;
      else return fail("--overlaps must be best or all (got '" + value + "')");
      return true;
    }
    if (option == "--adjacent-copies") {
      if (value == "yes") o.adjacent_copies = true;
      else if (value == "no") o.adjacent_copies = false;
      else return fail("--adjacent-copies must be yes or no (got '" + value + "')");
      return true;
    }
    if (option == "--min-copies") return decimal(option, value, o.min_copies);
    if (option == "--control") return number(option, value, 1, 100, o.control);
    if (option == "--flanks") return number(option, value, 0, 10000, o.flanks);
    if (option == "--min-identity") return number(option, value, 0, 100, o.min_identity);
    if (option == "--min-length" || option == "--min-consensus-score") {
      int32_t parsed = 0;
      if (!number(option, value, 0, std::numeric_limits<int32_t>::max(), parsed)) return false;
      (option == "--min-length" ? o.min_length : o.min_consensus_score) = parsed;
      return true;
    }
    return std::nullopt;
  }

  // An option naming one file or folder; nothing when `option` is another.
  std::optional<bool> take_name(const std::string& option, const std::string& value) {
    BatchOptions& o = result.options;
    static const struct {
      const char* option;
      std::string BatchOptions::*field;
      const char* what;
    } kNames[] = {{"--masked-out", &BatchOptions::masked_out, "a file name"},
                  {"--report-dir", &BatchOptions::report_dir, "a folder name"},
                  {"--html", &BatchOptions::html, "a file name"},
                  {"--from-table", &BatchOptions::from_table, "a file name"},
                  {"--annotation", &BatchOptions::annotation, "a file name"},
                  {"--control-out", &BatchOptions::control_out, "a file name"}};
    for (const auto& named : kNames) {
      if (option != named.option) continue;
      if (value.empty()) return fail(option + " needs " + named.what);
      if (value == "-" && named.field != &BatchOptions::annotation) {
        return fail(option + " needs " + named.what + " ('-' is not standard output here)");
      }
      o.*named.field = value;
      return true;
    }
    return std::nullopt;
  }

  // One option that takes a value.
  bool take(const std::string& option, const std::string& value) {
    BatchOptions& o = result.options;
    const Parameter* p = parameter(option);
    if (p != nullptr && !p->hi_times_match && p->field != &Options::min_score) {
      return number(option, value, p->lo, p->hi, o.*p->field);
    }
    if (option == "--level") {
      // The upper bound depends on --match: checked once every option is read.
      level_text = value;
      return true;
    }
    if (option == "--min-score") {
      min_score_given = true;
      return number(option, value, p->lo, p->hi, o.min_score);
    }
    if (option == "-t" || option == "--threads") return number(option, value, 1, 1024, o.threads);
    if (std::optional<bool> taken = take_call_option(option, value)) return *taken;
    if (option == "-o" || option == "--output") {
      o.output = value;
      return true;
    }
    if (option == "--format") {
      const std::optional<OutputFormat> format = format_named(value);
      if (!format) return fail("--format must be tsv, bed, gff3, trf-dat or trf-ngs (got '" + value + "')");
      o.format = *format;
      return true;
    }
    if (option == "--mask") {
      if (value == "soft") o.mask = MaskStyle::kSoft;
      else if (value == "hard") o.mask = MaskStyle::kHard;
      else return fail("--mask must be soft or hard (got '" + value + "')");
      return true;
    }
    if (option == "--tsv-out" || option == "--bed-out" || option == "--gff3-out") {
      if (value.empty()) return fail(option + " needs a file name");
      o.also.emplace_back(*format_named(option.substr(2, option.size() - 6)), value);  // --tsv-out: tsv
      return true;
    }
    if (std::optional<bool> taken = take_name(option, value)) return *taken;
    if (option == "--region") {
      if (value.empty()) return fail("--region needs chr, chr:start-end or chr:start");
      o.regions.push_back(value);
      return true;
    }
    return fail("unknown option '" + option + "' (see --help)");
  }

  static bool takes_value(const std::string& option) {
    if (parameter(option) != nullptr) return true;
    for (const char* name : {"-t", "--threads", "-o", "--overlaps", "--adjacent-copies", "--min-copies", "--min-length",
                             "--min-identity", "--min-consensus-score", "--control", "--control-out", "--annotation", "--flanks",
                             "--output", "--format", "--mask", "--masked-out", "--report-dir",
                             "--region", "--tsv-out", "--bed-out", "--gff3-out", "--html", "--from-table"}) {
      if (option == name) return true;
    }
    return false;
  }

  bool flag(const std::string& option) {
    BatchOptions& o = result.options;
    if (option == "--keep-case") o.keep_case = true;
    else if (option == "--bgzip") o.bgzip = true;
    else if (option == "--classic-pages") o.classic_pages = true;
    else if (option == "-q" || option == "--quiet") o.quiet = true;
    else if (option == "-h" || option == "--help") o.help = true;
    else if (option == "-V" || option == "--version") o.version = true;
    else return fail("unknown option '" + option + "' (see --help)");
    return true;
  }

  // --bgzip compresses files: every BED or GFF3 output must be one, and there must be one.
  void check_bgzip(const BatchOptions& o) {
    std::vector<std::pair<OutputFormat, std::string>> tables = {{o.format, o.output}};
    tables.insert(tables.end(), o.also.begin(), o.also.end());
    bool any = false;
    for (const auto& [format, name] : tables) {
      if (format != OutputFormat::kBed && format != OutputFormat::kGff3) continue;
      if (name.empty() || name == "-") {
        fail("--bgzip writes files: name the BED or GFF3 output (-o, --bed-out or --gff3-out)");
        return;
      }
      any = true;
    }
    if (!any) fail("--bgzip needs a BED or GFF3 output file (--format bed|gff3 -o FILE, --bed-out or --gff3-out)");
  }

  // --from-table only makes the summary page: no table, mask, view or shuffles.
  void check_from_table(const BatchOptions& o) {
    if (o.html.empty()) {
      fail("--from-table makes the summary page: give --html FILE");
      return;
    }
    const std::pair<bool, const char*> others[] = {
        {!o.output.empty() || !o.also.empty() || o.format != OutputFormat::kTsv, "-o, --format and --tsv-out, --bed-out, --gff3-out"},
        {!o.masked_out.empty(), "--mask and --masked-out"}, {!o.report_dir.empty(), "--report-dir"},
        {o.control > 0, "--control and --control-out"}, {o.bgzip, "--bgzip"}, {!o.regions.empty(), "--region"}};
    for (const auto& [given, names] : others) {
      if (given) {
        fail(std::string("--from-table writes only the --html page; leave out ") + names);
        return;
      }
    }
  }

  void finish(size_t inputs) {
    BatchOptions& o = result.options;
    if (o.help || o.version) return;
    if (level_text) {
      if (o.definition == 3) {
        fail("--level applies to definitions 1 and 2; definition 3 takes --min-score");
      } else if (const auto level = whole_number(*level_text, parameter("--level")->lo, int64_t{100} * o.match)) {
        o.level = static_cast<int32_t>(*level);
      } else {
        fail("--level must be a whole number from 50 to 100 x match = " +
             std::to_string(int64_t{100} * o.match) + " (got '" + *level_text + "')");
      }
    } else if (o.definition != 3 && o.level > int64_t{100} * o.match) {
      fail("--match " + std::to_string(o.match) + " allows no level from 50 to 100 x match; " +
           "give a match score of 1 or more");
    }
    if (min_score_given && o.definition != 3) {
      fail("--min-score applies to definition 3; definitions 1 and 2 take --level");
    }
    if (o.mask != MaskStyle::kNone && o.masked_out.empty()) fail("--mask needs --masked-out FILE");
    if (!o.masked_out.empty() && o.mask == MaskStyle::kNone) o.mask = MaskStyle::kSoft;
    if (!o.control_out.empty() && o.control == 0) o.control = 1;
    if (o.bgzip) check_bgzip(o);
    if (o.classic_pages && o.report_dir.empty()) fail("--classic-pages needs --report-dir DIR");
    if (!o.from_table.empty()) check_from_table(o);
    if (inputs == 0) fail("no input file (see --help)");
    if (inputs > 1) fail("one input file at a time (see --help)");
    if (!o.regions.empty() && o.input == "-") fail("--region needs an indexed file, not standard input");
  }
};

}  // namespace

std::string command_line(const std::vector<std::string>& args) {
  std::string line = "rivulon-batch";
  for (const std::string& arg : args) {
    const bool plain = !arg.empty() && std::all_of(arg.begin(), arg.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./:=+,-@%", c) != nullptr;
    });
    line += ' ';
    if (plain) {
      line += arg;
      continue;
    }
    line += '\'';
    for (char c : arg) {
      if (c == '\'') line += "'\\''";
      else line += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    line += '\'';
  }
  return line;
}

ParsedOptions parse_options(const std::vector<std::string>& args) {
  Parser p;
  p.result.options.command = command_line(args);
  size_t inputs = 0;
  bool options_end = false;
  for (size_t i = 0; i < args.size() && p.result.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      ++inputs;
      p.result.options.input = arg;
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    if (equals != std::string::npos) {
      const std::string option = arg.substr(0, equals);
      if (!Parser::takes_value(option)) {
        p.fail(option + " takes no value (see --help)");
        break;
      }
      p.take(option, arg.substr(equals + 1));
    } else if (Parser::takes_value(arg)) {
      if (i + 1 == args.size()) {
        p.fail(arg + " needs a value (see --help)");
        break;
      }
      p.take(arg, args[++i]);
    } else {
      p.flag(arg);
    }
  }
  if (p.result.error.empty()) p.finish(inputs);
  return p.result;
}

}  // namespace rivulon::batch
