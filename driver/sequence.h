// Loading the sequence file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace rivulon {

struct Sequence {
  std::vector<char> buffer;  // `capacity` bytes: the bases as read, then a NUL
  int32_t n = 0;             // number of bases (the NUL not counted)
  int64_t capacity = 0;      // starts at 16 and doubles whenever the buffer is full

  const char* bases() const { return buffer.data(); }
  std::string_view view() const { return {buffer.data(), static_cast<size_t>(n)}; }
};

// Reads `in` to its end: bases (ACGT in either case) are kept as read, blanks
// and line ends are skipped, '>' starts a header that runs to the next line end.
// Any other byte prints "error! input file is not valid\n" and ends the run
// with status 5505; a sequence longer than the 32-bit length allows ends it
// with the allocation message and status 142.
Sequence load_sequence(std::FILE* in);

}  // namespace rivulon
