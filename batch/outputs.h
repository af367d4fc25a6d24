// Everything a run of the batch program writes: the tables (TSV, BED,
// GFF3), the masked FASTA, the pages of the report folder and the summary
// page. Each record goes to all of them as it is finished; at the end they
// are put in place together, or none is.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "batch/annotation.h"
#include "batch/options.h"
#include "batch/pipeline.h"

namespace rivulon::batch {

class RunOutputs {
 public:
  // `annotation`, when given, names the features each repeat overlaps.
  RunOutputs(const BatchOptions& options, const Annotation* annotation);
  ~RunOutputs();
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;

  // Creates (and locks) the report folder, removes what killed runs left in
  // the output folders and opens every output. "" when all is ready;
  // otherwise the line to tell (nothing is left behind).
  std::string open(std::time_t started);

  // Writes a record whose stretches are all examined, in input order.
  void add(RecordWork& item);

  // Stretches that could not be examined or whose pages could not be
  // written, one line each.
  const std::vector<std::string>& warnings() const;
  int64_t stretches_not_examined() const;

  // Writes the summary page, then puts every output in place, or none when
  // one could not be written whole (each failure told on standard error).
  bool put_in_place();

  // With --control, what the shuffles gave: calls per Mb, mean and range over
  // the shuffles, in all and by period class; "" without.
  std::string chance_line() const;
  // The same as a table (--control-out): one row per period class.
  void write_chance_table(std::FILE* out) const;

  // "N repeats in M records; written to ...".
  std::string closing_line() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace rivulon::batch
