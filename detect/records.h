// Repeat records of the three definitions and the tables that hold them.
// Dependency-free so that the detectors and the report writers can share it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <type_traits>
#include <vector>

namespace rivulon {

constexpr uint32_t kNoRecord = 0;    // no record: `next` of the last record of a chain

// A repeat of definition 1 or 2 as merged into the table.
struct RepeatRecord {
  int32_t start;                      // first base of its first copy
  int32_t motif_length;               // L
  int32_t units;                      // number of copies
  float similarity;                   // similarity level (the candidate's float, exactly)
};

// A repeat of definition 3 as merged into the table.
struct PatternRepeatRecord {
  int32_t start;                      // first base of its best alignment
  int32_t motif_length;               // L
  int32_t pattern_start;              // first base of the representative copy
  double units;                       // aligned length / L
  double score;                       // alignment score
};

// A position's record: which repeat covers it, and the position's next record.
struct RecordLink {
  uint32_t repeat;  // index into the table's repeats
  uint32_t next;    // 1 + index of the next link of the same position, or kNoRecord
};

// A record as merging and writing read it: the repeat and where the position
// stands in it. The record at the repeat's start is the one that is listed.
template <typename Record>
struct RecordEntry {
  Record& repeat;
  std::conditional_t<std::is_const_v<Record>, const RecordLink, RecordLink>& link;
  int64_t offset;  // the position minus the repeat's start
  bool listed() const { return offset == 0; }
};

// The records of every sequence position, stored only where there are any:
// for each position the index of its first link (4 bytes a position), the
// links (8 bytes a record), each naming the repeat that covers the position,
// and the repeats themselves, once each. A record that another repeat takes
// over is pointed at that repeat. Indices of links are 1-based so that 0 can
// mean "none"; deques never move their elements while the table grows.
template <typename Record>
struct RecordArena {
  int32_t n = 0;
  std::vector<uint32_t> first;  // per position: 1 + index of its first link, or kNoRecord
  std::deque<RecordLink> links;
  std::deque<Record> repeats;

  explicit RecordArena(int32_t positions)
      : n(positions), first(static_cast<std::size_t>(positions), kNoRecord) {}

  // Number of records (links).
  std::size_t size() const { return links.size(); }
  // True when position `pos` holds no record.
  bool empty_at(int64_t pos) const { return first[static_cast<std::size_t>(pos)] == kNoRecord; }

  // Keeps a repeat; returns its index for records to point at.
  uint32_t add_repeat(const Record& repeat) {
    repeats.push_back(repeat);
    return static_cast<uint32_t>(repeats.size() - 1);
  }
  // Appends a record of repeat `repeat` at the end of the chain of `pos`.
  RecordLink& append_to_chain(int64_t pos, uint32_t repeat) {
    links.push_back(RecordLink{repeat, kNoRecord});
    const uint32_t link = static_cast<uint32_t>(links.size());
    uint32_t* tail = &first[static_cast<std::size_t>(pos)];
    while (*tail != kNoRecord) tail = &links[*tail - 1].next;
    *tail = link;
    return links.back();
  }

  // The records of one position, first to last:
  // for (auto entry : table.chain(pos)) ... entry.repeat, entry.offset, entry.listed().
  template <typename Arena, typename Value>
  class Chain {
   public:
    class Iterator {
     public:
      Iterator(Arena* arena, int64_t pos, uint32_t link) : arena_(arena), pos_(pos), link_(link) {}
      RecordEntry<Value> operator*() const {
        auto& link = arena_->links[link_ - 1];
        Value& repeat = arena_->repeats[link.repeat];
        return {repeat, link, pos_ - repeat.start};
      }
      Iterator& operator++() {
        link_ = arena_->links[link_ - 1].next;
        return *this;
      }
      bool operator!=(const Iterator& other) const { return link_ != other.link_; }

     private:
      Arena* arena_;
      int64_t pos_;
      uint32_t link_;  // 1 + index of the current link, kNoRecord past the last
    };
    Chain(Arena* arena, int64_t pos) : arena_(arena), pos_(pos) {}
    Iterator begin() const { return Iterator(arena_, pos_, arena_->first[static_cast<std::size_t>(pos_)]); }
    Iterator end() const { return Iterator(arena_, pos_, kNoRecord); }

   private:
    Arena* arena_;
    int64_t pos_;
  };
  Chain<RecordArena, Record> chain(int64_t pos) { return {this, pos}; }
  Chain<const RecordArena, const Record> chain(int64_t pos) const { return {this, pos}; }
};

using RecordTable = RecordArena<RepeatRecord>;
using PatternRepeatTable = RecordArena<PatternRepeatRecord>;

// Calls visit(record, position) for every listed record of `table`, in the
// text report's order: by start, then in the order of the start's chain.
template <typename Table, typename Visit>
void for_each_listed(const Table& table, Visit visit) {
  for (int64_t i = 0; i < table.n; ++i) {
    for (auto entry : table.chain(i)) {
      if (entry.listed()) visit(entry.repeat, i);
    }
  }
}

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
