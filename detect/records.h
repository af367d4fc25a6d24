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

  // The records of one position, head first: for (Record& r : table.chain(pos)).
  template <typename Arena, typename Value>
  class Chain {
   public:
    class Iterator {
     public:
      Iterator(Arena* arena, uint32_t index, bool done) : arena_(arena), index_(index), done_(done) {}
      Value& operator*() const { return arena_->at(index_); }
      Iterator& operator++() {
        const uint32_t next = arena_->at(index_).next;
        if (next == kNoRecord) {
          done_ = true;
        } else {
          index_ = next;
        }
        return *this;
      }
      bool operator!=(const Iterator& other) const { return done_ != other.done_; }

     private:
      Arena* arena_;
      uint32_t index_;
      bool done_;
    };
    Chain(Arena* arena, uint32_t head) : arena_(arena), head_(head) {}
    Iterator begin() const { return Iterator(arena_, head_, false); }
    Iterator end() const { return Iterator(arena_, head_, true); }

   private:
    Arena* arena_;
    uint32_t head_;
  };
  Chain<RecordArena, Record> chain(int64_t pos) { return {this, static_cast<uint32_t>(pos)}; }
  Chain<const RecordArena, const Record> chain(int64_t pos) const {
    return {this, static_cast<uint32_t>(pos)};
  }

  // Appends a zero-filled record at the end of the chain of `pos` and returns it.
  Record& append_to_chain(int64_t pos) {
    uint32_t tail = static_cast<uint32_t>(pos);
    while (at(tail).next != kNoRecord) tail = at(tail).next;
    chained.push_back(Record{});
    const uint32_t index = static_cast<uint32_t>(heads.size() + chained.size() - 1);
    at(tail).next = index;
    return at(index);
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
