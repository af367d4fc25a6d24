// The batch program's outputs: the repeat table as TSV, BED or GFF3, and the
// input with its repeats masked.
#pragma once
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "rivulon/genome.h"
#include "batch/annotation.h"
#include "batch/options.h"
#include "batch/repeats.h"

namespace rivulon::batch {

class RepeatWriter {
 public:
  // `annotation`, when given, names the features each repeat overlaps (a
  // last TSV column, a GFF3 attribute).
  RepeatWriter(std::FILE* out, const BatchOptions& options, OutputFormat format, const Annotation* annotation = nullptr)
      : out_(out), options_(options), format_(format), annotation_(annotation) {}

  // What wrote the file (version, command line, parameters) as comment lines,
  // after GFF3's version line; then the TSV's column names.
  void write_header();

  // The rows of one record, each repeat with its statistics; `record` holds
  // the bases the motifs are read from.
  void write_record(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
                    const std::vector<RepeatStatistics>& statistics);

 private:
  void write_row(const char* name, const std::string& seqid, const std::string& motif, const FoundRepeat& r,
                 const RepeatStatistics& st);
  void write_trf_row(const FastaRecord& record, const FoundRepeat& r, const RepeatStatistics& st);

  std::FILE* out_;
  const BatchOptions& options_;
  OutputFormat format_;
  const Annotation* annotation_;
  const FastaRecord* record_ = nullptr;  // the record being written
  std::set<std::string> regions_declared_;  // GFF3 ##sequence-region lines written
};

// The version of the tables' layout, raised whenever a column changes.
constexpr int kSchemaVersion = 2;

// The run's parameters as the tables' headers state them ("definition=3 ...").
std::string run_parameters(const BatchOptions& options);

// The three comment lines that open every table: what wrote it (`table`
// names the layout and its schema), the command line and the parameters.
void write_provenance(std::FILE* out, const BatchOptions& options, const char* comment, const std::string& table);

// The TSV's columns after seqid (without the optional ones), their names and
// a repeat's values as the table writes them.
std::vector<std::string> tsv_column_names(const BatchOptions& options);
std::vector<std::string> tsv_columns(const FoundRepeat& repeat, const RepeatStatistics& statistics,
                                     const std::string& motif);

// The motif's letters as analysed, "." when they are not held.
std::string motif_of(const FastaRecord& record, const FoundRepeat& repeat);

// The BED score: the similarity level as a share of the match score, or the
// score as a share of a perfect repeat's (match x length), scaled to 0..1000.
int bed_score(const FoundRepeat& repeat, int definition, int32_t match);

// GFF3 percent-encoding of a seqid (everything outside [a-zA-Z0-9.:^*$@!+_?|-]).
std::string gff3_seqid(const std::string& name);

// Writes `record` as FASTA, 60 letters a line, its repeats in lower case
// (soft) or as N (hard) and every other letter as analysed. The record's
// bases are masked in place.
void write_masked(std::FILE* out, FastaRecord& record,
                  const std::vector<FoundRepeat>& repeats, MaskStyle style);

}  // namespace rivulon::batch
