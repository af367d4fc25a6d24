// The report writers: the report page (replacing the provisional page), and
// as asked the alignments page and the text report, written in one pass over
// the positions. They write only the pages they create; what went wrong is
// handed back to the caller to tell the user.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/output_file.h"
#include "report/output_names.h"
#include "rivulon/rivulon.h"

namespace rivulon {

// What a report holds besides its repeats.
struct ReportRequest {
  PageNames names;              // the pages' file names (report/output_names.h)
  bool alignments = false;      // write the alignments page
  bool text_report = false;     // write the text report
  // The coding region of each repeat, in the repeats' order
  // (coding_region_names()); when set, the pages have a coding-region column.
  const std::vector<std::string>* coding = nullptr;
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

// The report of `repeats`, found by find_repeats() in `bases` (any slice)
// with `options`. The alignments page draws each repeat again: definitions 1
// and 2 every adjacent pair of copies, definition 3 the repeat against its
// pattern with the minimum score.
PageFailures write_report(const ReportRequest& request, std::string_view bases, const Options& options,
                          const std::vector<Repeat>& repeats);

}  // namespace rivulon
