// Genomes as the library reads them, the second public header beside
// rivulon.h: every record of a plain, gzip or bgzip FASTA file (htslib's kseq
// over BGZF), or named regions of an indexed file (faidx, the index checked
// against the file first); and a record folded to upper case and split into
// the stretches of bases between the letters that are not bases (N runs,
// IUPAC codes), each of which is then examined as a sequence of its own.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace rivulon {

struct FreeBases {
  void operator()(char* p) const { std::free(p); }
};

// One record (or region of a record) as read: its letters unchanged.
struct FastaRecord {
  std::string name;                      // the header's first word
  std::string description;               // the rest of the header line (none when read by --region)
  std::unique_ptr<char, FreeBases> bases;  // `length` letters, then a NUL
  int64_t length = 0;
  int64_t offset = 0;         // 0-based position of bases[0] in the record (regions)
  int64_t record_length = 0;  // length of the whole record
};

class FastaReader {
 public:
  enum class Status { kRecord, kEnd, kError };

  FastaReader();
  ~FastaReader();
  FastaReader(const FastaReader&) = delete;
  FastaReader& operator=(const FastaReader&) = delete;

  // Opens `path` ("-": standard input). With regions, the file must be
  // indexed (a .fai beside it, and a .gzi for bgzip) and only the regions
  // are read, in the order given. False with `error()` set on failure.
  bool open(const std::string& path, const std::vector<std::string>& regions);

  // The next record; kError with `error()` set when the input is damaged.
  Status next(FastaRecord& record);

  // How much of the input has been read, 0..1 (an estimate from the bytes
  // read of a regular file; exact for regions). Only for progress displays.
  double fraction_read() const;

  const std::string& error() const { return error_; }
  // What the user should know about the input that is no error (an index
  // older than its file); "" when nothing.
  const std::string& warning() const { return warning_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string error_;
  std::string warning_;
};

// A stretch of a record as the detectors see it.
struct Segment {
  int64_t start = 0;  // 0-based, in the record as held
  int64_t end = 0;    // one past the last base
  int64_t length() const { return end - start; }
};

// Folds every letter of bases[0, length) to upper case unless `keep_case`,
// then returns the maximal stretches of A, C, G, T (with `keep_case` also
// a, c, g, t) that are at least 2 bases long, in order.
std::vector<Segment> prepare_segments(char* bases, int64_t length, bool keep_case);

}  // namespace rivulon
