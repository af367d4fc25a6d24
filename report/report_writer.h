// The report writers: the report page (replacing the provisional page), and
// as asked the alignments page and the text report, written in one pass over
// the positions. They write only the pages they create; what went wrong is
// handed back to the caller to tell the user.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "align/sequence.h"
#include "detect/records.h"
#include "report/output_file.h"
#include "report/output_names.h"

namespace rivulon {

// What a report holds besides its records.
struct ReportRequest {
  PageNames names;              // the pages' file names (report/output_names.h)
  bool alignments = false;      // write the alignments page
  bool text_report = false;     // write the text report
  bool coding_regions = false;  // the records carry coding-region names: add their column
  std::string directory;        // folder the pages go to, ending in '/'; empty: the current one.
                                // Links between the pages stay bare names.
  // When set, the pages written whole are handed over here, in the order
  // they are to be put in place (the report page last), instead of being put
  // in place now: a caller that writes many reports puts them all in place
  // together at the end.
  std::vector<OutputFile>* unplaced = nullptr;
};

enum class Page { kReport, kAlignments, kText };

// The pages that could not be created or put in place, in the order that happened.
using PageFailures = std::vector<Page>;

// Report of definition 1 or 2 (`definition`: the alignments page labels the
// copies of a pair differently).
PageFailures write_report(const ReportRequest& request, int definition, SequenceView seq,
                          const Scoring& scoring, const RecordTable& records);

// Report of definition 3; each repeat is drawn against its pattern with the
// run's minimum score.
PageFailures write_report(const ReportRequest& request, SequenceView seq, const Scoring& scoring,
                          double min_score, const PatternRepeatTable& records);

}  // namespace rivulon
