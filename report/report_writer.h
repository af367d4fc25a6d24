// The report writers: the report page (replacing the provisional page), and
// as asked the alignments page and the text report, written in one pass over
// the positions.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "align/copy_alignment.h"
#include "detect/records.h"

namespace rivulon {

class PatternWorkspace;

// Report of definition 1 or 2 (`definition`). `coding_file` is the coding-region
// file named on the command line; definition 2 first reads a replacement name
// from standard input. The Alignment matrix must hold motif length M.
// Penalties negated; `t` is unused by these definitions.
void write_report(int definition, const char* s, int32_t n, RecordTable& records, int32_t M,
                  const std::optional<std::string>& coding_file, const std::string& sequence_file,
                  int text_report, int alignments, AlignmentMatrix& matrix, int32_t gap,
                  int32_t terminal_gap, int32_t mismatch, int32_t match, double t);

// Report of definition 3: prints "\nFile name: " and reads the coding-region
// file name from standard input when a coding-region file is named; draws
// each repeat against its pattern with minimum score `t`.
void write_report(const char* s, int32_t n, PatternRepeatTable& records, int32_t M,
                  const std::optional<std::string>& coding_file, const std::string& sequence_file,
                  int text_report, int alignments, PatternWorkspace& workspace, int32_t gap,
                  int32_t terminal_gap, int32_t mismatch, int32_t match, double t);

}  // namespace rivulon
