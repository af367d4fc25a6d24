// Repeat records of the three definitions and the tables that hold them.
// Dependency-free so that the detectors and the report writers can share it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rivulon {

constexpr uint32_t kNoRecord = 0;  // `next` of the last record of a chain
constexpr int kCodingNameSize = 10;  // "noncoding" and its terminator

// One record of a repeat of definition 1 or 2 at one position.
struct RepeatRecord {
  int32_t motif_length;             // L of the repeat; 0 marks an empty record
  int32_t offset;                   // this position minus the repeat's start
  int32_t units;                    // number of copies of the repeat
  double similarity;                // the repeat's similarity level
  int32_t listed;                   // 1 on the record at the repeat's start
  int16_t coding;                   // 1 when the start lies in a coding region
  char coding_name[kCodingNameSize];  // that region's name, or "noncoding"
  uint32_t next;                    // next record of the same position, or kNoRecord
};

// One record of a definition 3 repeat at one position.
struct PatternRepeatRecord {
  int32_t motif_length;             // L of the repeat; 0 marks an empty record
  int32_t offset;                   // this position minus the repeat's start
  int32_t pattern_start;            // first base of the representative copy
  double units;                     // aligned length / L
  double score;                     // alignment score
  int16_t listed;                   // 1 on the record at the repeat's start
  int16_t coding;                   // 1 when the start lies in a coding region
  char coding_name[kCodingNameSize];  // that region's name, or "noncoding"
  uint32_t next;                    // next record of the same position, or kNoRecord
};

// For every sequence position a head record, the first of a chain. Heads have
// the indices 0..n-1, chained records n, n+1, ... in the order they were
// added, linked by index, so index 0 (a head) never appears as a `next`.
// Heads and chained records live in separate arrays so that adding to the
// chains never moves the (large) array of heads.
template <typename Record>
struct RecordArena {
  int32_t n = 0;
  std::vector<Record> heads;    // one per position, zero-filled
  std::vector<Record> chained;  // records after the heads

  explicit RecordArena(int32_t positions)
      : n(positions), heads(static_cast<std::size_t>(positions), Record{}) {}
  Record& at(uint32_t index) {
    return index < static_cast<uint32_t>(n) ? heads[index] : chained[index - static_cast<uint32_t>(n)];
  }
  const Record& at(uint32_t index) const {
    return index < static_cast<uint32_t>(n) ? heads[index] : chained[index - static_cast<uint32_t>(n)];
  }
  // Number of records, heads included.
  std::size_t size() const { return heads.size() + chained.size(); }
  // Appends a zero-filled record after `tail` in its chain and returns its index.
  uint32_t append_after(uint32_t tail) {
    chained.push_back(Record{});
    const uint32_t index = static_cast<uint32_t>(heads.size() + chained.size() - 1);
    at(tail).next = index;
    return index;
  }
};

using RecordTable = RecordArena<RepeatRecord>;
using PatternRepeatTable = RecordArena<PatternRepeatRecord>;

// A candidate repeat of one motif length, before merging.
struct CandidateRepeat {
  int32_t start;     // first base of the first copy
  int32_t units;     // number of copies, at least 2
  float similarity;  // similarity level
};

// Candidates of one motif length; the newest is at the back (the list's front).
using CandidateList = std::vector<CandidateRepeat>;

// An accepted definition 3 repeat of one motif length, before merging.
struct FoundRepeat {
  int32_t start;          // first base of the best alignment
  int32_t pattern_start;  // first base of the representative copy
  double units;           // aligned length / L
  double score;           // alignment score
};

// Found repeats of one motif length; the newest is at the back (the list's front).
using FoundList = std::vector<FoundRepeat>;

}  // namespace rivulon
