// The batch program's summary page (--html): one self-contained HTML file
// with the run's parameters, a count per record, a track of the repeats
// along each record, a histogram of motif lengths and a table that can be
// sorted, filtered and paged. It needs no network and works from file://.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/fasta_input.h"
#include "batch/options.h"
#include "batch/repeats.h"

namespace rivulon::batch {

class SummaryPage {
 public:
  explicit SummaryPage(const BatchOptions& options) : options_(options) {}

  // A record and its repeats, in output order; `links` is empty or holds,
  // for each repeat, a relative URL of its block in an alignments page.
  void add(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
           const std::vector<std::string>& links);

  void write(std::FILE* out) const;

 private:
  struct RecordLine {
    std::string name;
    int64_t length;
    int64_t repeats;
    int64_t covered;  // bases inside at least one repeat
  };
  struct Row {
    uint32_t record;
    int64_t start, end;  // 1-based, inclusive
    int32_t motif_length;
    std::string units, value, motif, link;
  };
  const BatchOptions& options_;
  std::vector<RecordLine> records_;
  std::vector<Row> rows_;
};

// `text` as a JSON string, safe inside a <script> element (no "</", no
// U+2028/2029 surprises: < > & and controls are written as \u escapes).
std::string json_string(const std::string& text);

}  // namespace rivulon::batch
