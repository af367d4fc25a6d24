// The coding-region file: "CDS" entries of a feature table, each with a
// location such as 123..456 or complement(123..456) and a quoted name.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "rivulon/rivulon.h"

namespace rivulon {

constexpr int kRegionNameSize = 12;  // at most 11 characters and the terminator

struct CodingRegion {
  int32_t start;                // first number of the location, as written
  int32_t end;                  // second number of the location
  char name[kRegionNameSize];   // first word of the quoted name, cut to 11 characters
};

struct CodingRegionTable {
  std::vector<CodingRegion> regions;  // in file order
  int32_t count = 0;
};

// Scans `in` character by character for "CDS" entries. An entry is counted
// only when complete: its start (the text from the first digit up to the
// first '.'), its end digits (a '<' or '>' right after ".." skipped) and its
// quoted name; a file ending inside an entry ends the scan without it, and so
// does a number that does not fit 32 bits.
CodingRegionTable scan_coding_regions(std::FILE* in);

// Opens and scans the named file; nothing when it cannot be opened, is a
// directory or fails while being read.
std::optional<CodingRegionTable> read_coding_regions(const std::string& file_name);

// The name of the coding region each repeat's start lies in, cut to 9
// characters, or "noncoding"; `repeats` are ordered by start, as
// find_repeats() gives them, in a sequence of n bases. The regions are met in
// file order by a cursor that moves at most one step per position, before
// the position is tested.
std::vector<std::string> coding_region_names(const CodingRegionTable& table, const std::vector<Repeat>& repeats,
                                             int64_t n);

}  // namespace rivulon
