// The report folder (--report-dir) as a view for genomes: a page per record
// with repeats, each repeat's copies aligned to its consensus beside the
// statistics the tables give, in record coordinates (1-based, inclusive). A
// record's repeats are kept in parts of bounded size loaded on demand, so
// that no file is larger than kPartBytes plus one repeat's piece and a page
// opens as fast for a record with 50,000 repeats as for one with 5.
//
// The folder is written under a temporary name beside its final name and
// put in place whole with one rename at the end of the run: a failed or
// interrupted run leaves the earlier folder as it was. It replaces only an
// empty folder or one that holds nothing but an earlier view's files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/options.h"
#include "batch/repeats.h"
#include "report/output_file.h"
#include "rivulon/genome.h"

namespace rivulon::batch {

// The view's folder as --report-dir names it, without the slashes that may
// end it; its temporary is written in that folder's parent.
std::string view_folder(std::string report_dir);

class AlignmentsView {
 public:
  static constexpr size_t kPartBytes = 1 << 20;     // a part is closed once it holds this much
  static constexpr size_t kPieceCopies = 2000;      // a repeat's copies are cut into pieces of this many
  static constexpr size_t kInsertionLetters = 1000;  // a longer insertion keeps its first letters and its length
  static constexpr size_t kIndexBytes = 1 << 20;    // the index lists records while it is smaller
  static constexpr size_t kShownName = 1000;        // bytes of a record's name the pages show

  explicit AlignmentsView(const BatchOptions& options) : options_(options) {}

  // Checks that the folder may be replaced and makes its temporary; "" when
  // ready, otherwise the line to tell.
  std::string open();

  // The page of the record with 1-based `ordinal` in the input.
  static std::string page_name(int64_t ordinal);

  // Writes the page and parts of a record's repeats (in output order), with
  // their statistics and copies. False when they could not be written.
  bool add(const FastaRecord& record, int64_t ordinal, const std::vector<FoundRepeat>& repeats,
           const std::vector<RepeatStatistics>& statistics, const std::vector<CopyLayout>& layouts);

  // Writes the index and the shared style and script. False on failure.
  bool finish();

  // Puts the folder in place (see above), after looking again that the
  // folder it replaces may be replaced: "" when done, otherwise why not.
  std::string put_in_place();

 private:
  const BatchOptions& options_;
  OutputFolder folder_;
  std::string navigation_;      // the links every page opens with
  std::string listed_;          // the index's lines: records with repeats, while it stays small
  int64_t unlisted_ = 0;        // records with repeats the index leaves out
  bool write_file(const std::string& name, const std::string& text) const;
};

}  // namespace rivulon::batch
