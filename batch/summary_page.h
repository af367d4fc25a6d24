// The batch program's summary page (--html): one self-contained HTML file
// with the run's parameters, a count per record, a track of the repeats
// along each record, a histogram of motif lengths and a table that can be
// sorted, filtered and paged. It needs no network and works from file://.
//
// The page stays of a bounded size (and so does what is held for it while
// the run goes on), however many records and repeats there are:
// - the totals (records, bases, repeats, bases covered) and the histogram of
//   motif lengths count every record and every repeat;
// - the records table lists at most `records` records: those with the most
//   repeats (of two with as many, the earlier), in input order; one more
//   line sums all the others;
// - the repeats table (and the tracks drawn from it) holds at most `rows`
//   repeats: the longest (most bases spanned; then the higher similarity or
//   score; then the earlier in the output), in output order. A record with
//   a repeat in the table is named there even when it is not listed;
// - a motif longer than `motif_letters` shows its first letters and "…".
// The page says when any of these cuts were made; the run's outputs (TSV,
// BED, GFF3) always hold every repeat whole.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rivulon/genome.h"
#include "batch/options.h"
#include "batch/repeats.h"

namespace rivulon::batch {

// A repeat as the page holds it, read back from a table the program wrote:
// 0-based start, end one past the last base, the period its consensus's
// length, and the columns as the table gives them.
struct TableRepeat {
  int64_t start = 0, end = 0;
  int32_t motif_length = 0, period = 0;
  double value = 0;
  std::string units, value_text, motif;
};

struct SummaryLimits {
  size_t rows = 100000;
  size_t records = 1000;
  size_t motif_letters = 100;
};

class SummaryPage {
 public:
  explicit SummaryPage(const BatchOptions& options, SummaryLimits limits = {})
      : options_(options), limits_(limits) {}

  // A record and its repeats, in output order, with their statistics (the
  // period classes and the histogram go by the consensus's length); `links`
  // is empty or holds, for each repeat, a relative URL of its block in an
  // alignments page.
  void add(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
           const std::vector<RepeatStatistics>& statistics, const std::vector<std::string>& links);

  // A record and its repeats as read back from a table (by start).
  void add(const std::string& name, int64_t length, const std::vector<TableRepeat>& repeats);

  void write(std::FILE* out) const;

  // What the --control shuffles gave, shown under the parameters ("" for nothing).
  void set_chance(std::string line) { chance_ = std::move(line); }

 private:
  struct RecordLine {
    std::string name;
    int64_t ordinal;  // 0 for the first record added
    int64_t length;
    int64_t repeats;
    int64_t covered;  // bases inside at least one repeat
  };
  // How a repeat ranks for the table: longer, then higher valued, then earlier.
  struct Rank {
    int64_t span;
    double value;
    int64_t order;  // 0 for the first repeat added
  };
  struct Row {
    Rank rank;
    std::shared_ptr<const RecordLine> record;
    int64_t start, end;  // 1-based, inclusive
    int32_t motif_length, period;
    std::string units, value, motif;
    int32_t page;      // the alignment's page, an index into pages_ (-1: none)
    std::string link;  // the place on it ("#..."), or ""
  };
  const BatchOptions& options_;
  std::string chance_;
  SummaryLimits limits_;
  // Both kept as heaps with the lowest ranked first, to be replaced by a
  // better one once full.
  // What the page shows: the rows in output order, and the records listed
  // or named by a row (in input order, each once, with whether it is listed).
  struct Shown {
    std::vector<const Row*> rows;
    std::vector<const RecordLine*> named;
    std::vector<bool> is_listed;
    RecordLine others;  // the records not listed, summed
    int64_t other_records = 0;
  };
  Shown shown() const;
  // Where a repeat lies and its period, for the counts.
  struct Spot {
    int64_t start, end;  // 0-based, end one past the last base
    int32_t period;
  };
  // Counts a record's repeats (by start) by period and class; the bases they cover.
  int64_t count(const std::vector<Spot>& spots);
  // Adds a record's line (to the listed heap and the totals) before its rows.
  std::shared_ptr<const RecordLine> add_record(const std::string& name, int64_t length, const std::vector<Spot>& spots);
  // Offers one repeat to the rows kept; `motif` gives its letters, asked only when kept.
  template <typename Motif>
  void offer(const std::shared_ptr<const RecordLine>& line, int64_t order, const Spot& spot, int32_t motif_length,
             double value, const std::string& units, const std::string& value_text, const Motif& motif,
             const std::string& link);
  void write_header(std::FILE* out) const;  // parameters, command line, chance, totals
  // The notes on what the page left out, for the template's slot of that name.
  void write_notes(std::FILE* out, const std::string& slot, const Shown& v) const;
  void write_data(std::FILE* out, const Shown& v) const;  // the data the script reads, as JSON
  std::vector<std::shared_ptr<const RecordLine>> listed_;
  std::vector<Row> rows_;
  int64_t records_ = 0, bases_ = 0, repeats_ = 0, covered_ = 0;
  std::vector<int64_t> motif_lengths_;  // repeats by period (the consensus's length)
  // Repeats, and bases inside at least one of them, by period class.
  std::array<int64_t, kPeriodClasses.size()> class_repeats_{}, class_covered_{};
  bool motifs_cut_ = false;
  // The pages the rows' links lead to, each once (a genome's rows share a few).
  std::vector<std::string> pages_;
  std::map<std::string, int32_t> page_index_;

  static bool ranks_above(const Rank& a, const Rank& b);
  static bool listed_before(const RecordLine& a, const RecordLine& b);
};

// `text` as a JSON string, safe inside a <script> element (no "</", no
// U+2028/2029 surprises: < > & and controls are written as \u escapes).
std::string json_string(const std::string& text);

}  // namespace rivulon::batch
