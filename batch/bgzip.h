// BED and GFF3 tables compressed with BGZF and indexed with tabix
// (--bgzip), so that genome browsers and `tabix` can read a region of them.
#pragma once
#include <htslib/bgzf.h>

#include <cstdio>
#include <string>

#include "batch/options.h"

namespace rivulon::batch {

class CompressedTable {
 public:
  CompressedTable() = default;
  CompressedTable(const CompressedTable&) = delete;
  CompressedTable& operator=(const CompressedTable&) = delete;
  ~CompressedTable();

  // Compresses what is written to stream() into `file` (which must stay open
  // until finish). False when that cannot be set up.
  bool open(std::FILE* file);
  std::FILE* stream() const { return stream_; }
  // Ends the compressed data (BGZF's end-of-file block); false when any of
  // it could not be written.
  bool finish();

 private:
  BGZF* bgzf_ = nullptr;
  std::FILE* stream_ = nullptr;
};

// Writes the tabix index of the finished BGZF file `compressed` (BED or GFF3
// rows, sorted within each sequence) to `index`. "" when written; otherwise
// what went wrong.
std::string write_tabix_index(const std::string& compressed, const std::string& index, OutputFormat format);

}  // namespace rivulon::batch
