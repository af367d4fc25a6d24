// Repeat records of the three definitions and the tables that hold them.
// Dependency-free so that the detectors and the report writers can share it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace rivulon {

constexpr uint32_t kNoRecord = 0;  // no record: `next` of the last record of a chain
constexpr int kCodingNameSize = 10;  // "noncoding" and its terminator

// One record of a repeat of definition 1 or 2 at one position.
struct RepeatRecord {
  int32_t motif_length;             // L of the repeat
  int32_t offset;                   // this position minus the repeat's start
  int32_t units;                    // number of copies of the repeat
  float similarity;                 // the repeat's similarity level (a candidate's float, exactly)
  int16_t listed;                   // 1 on the record at the repeat's start
  int16_t coding;                   // 1 when the start lies in a coding region
  char coding_name[kCodingNameSize];  // that region's name, or "noncoding"
  uint32_t next;                    // next record of the same position, or kNoRecord
};

// One record of a definition 3 repeat at one position.
struct PatternRepeatRecord {
  int32_t motif_length;             // L of the repeat
  int32_t offset;                   // this position minus the repeat's start
  int32_t pattern_start;            // first base of the representative copy
  double units;                     // aligned length / L
  double score;                     // alignment score
  int16_t listed;                   // 1 on the record at the repeat's start
  int16_t coding;                   // 1 when the start lies in a coding region
  char coding_name[kCodingNameSize];  // that region's name, or "noncoding"
  uint32_t next;                    // next record of the same position, or kNoRecord
};

// The records of every sequence position, stored only where there are any:
// for each position the index of its first record (4 bytes a position), and
// the records themselves in the order they were added, each linked to the
// next record of the same position. Indices are 1-based so that 0 can mean
// "none"; a deque never moves its records while the table grows.
template <typename Record>
struct RecordArena {
  int32_t n = 0;
  std::vector<uint32_t> first;  // per position: 1 + index of its first record, or kNoRecord
  std::deque<Record> records;   // every record, in the order added

  explicit RecordArena(int32_t positions)
      : n(positions), first(static_cast<std::size_t>(positions), kNoRecord) {}

  // Number of records.
  std::size_t size() const { return records.size(); }
  // True when position `pos` holds no record.
  bool empty_at(int64_t pos) const { return first[static_cast<std::size_t>(pos)] == kNoRecord; }

  // The records of one position, first to last: for (Record& r : table.chain(pos)).
  template <typename Arena, typename Value>
  class Chain {
   public:
    class Iterator {
     public:
      Iterator(Arena* arena, uint32_t link) : arena_(arena), link_(link) {}
      Value& operator*() const { return arena_->records[link_ - 1]; }
      Iterator& operator++() {
        link_ = arena_->records[link_ - 1].next;
        return *this;
      }
      bool operator!=(const Iterator& other) const { return link_ != other.link_; }

     private:
      Arena* arena_;
      uint32_t link_;  // 1 + index of the current record, kNoRecord past the last
    };
    Chain(Arena* arena, uint32_t link) : arena_(arena), link_(link) {}
    Iterator begin() const { return Iterator(arena_, link_); }
    Iterator end() const { return Iterator(arena_, kNoRecord); }

   private:
    Arena* arena_;
    uint32_t link_;
  };
  Chain<RecordArena, Record> chain(int64_t pos) { return {this, first[static_cast<std::size_t>(pos)]}; }
  Chain<const RecordArena, const Record> chain(int64_t pos) const {
    return {this, first[static_cast<std::size_t>(pos)]};
  }

  // Appends a zero-filled record at the end of the chain of `pos` and returns it.
  Record& append_to_chain(int64_t pos) {
    records.push_back(Record{});
    const uint32_t link = static_cast<uint32_t>(records.size());
    uint32_t* tail = &first[static_cast<std::size_t>(pos)];
    while (*tail != kNoRecord) tail = &records[*tail - 1].next;
    *tail = link;
    return records.back();
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
