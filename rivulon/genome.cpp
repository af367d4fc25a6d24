#include "rivulon/genome.h"

#include "rivulon/genome_index.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <tuple>
#include <stdexcept>

namespace {

// kseq grows its strings through kstring's ks_resize and ignores a failure
// (it then copies into the old, too small block). In this file the inline
// code of kseq and kstring allocates through these instead, which throw
// std::bad_alloc, so that running out of memory while reading is reported
// like any other (status 4) rather than corrupting memory.
void* checked_malloc(size_t size) {
  void* p = std::malloc(size);
  if (p == nullptr && size != 0) throw std::bad_alloc();
  return p;
}
void* checked_calloc(size_t count, size_t size) {
  void* p = std::calloc(count, size);
  if (p == nullptr && count != 0 && size != 0) throw std::bad_alloc();
  return p;
}
// Growing a buffer past what the longest record allowed needs (kstring
// grows by half again) means a record too long to examine: it is refused
// while it is read, not once it is held whole.
struct RecordTooLong : std::length_error {
  RecordTooLong() : std::length_error("record too long") {}
};
constexpr size_t kLargestBuffer = (size_t{1} << 31) / 2 * 3 + 4096;

void* checked_realloc(void* old, size_t size) {
  if (size > kLargestBuffer) throw RecordTooLong();
  void* p = std::realloc(old, size);
  if (p == nullptr && size != 0) throw std::bad_alloc();
  return p;
}

}  // namespace

// The C library's headers are all in above; only htslib's inline code and
// the kseq reader instantiated below see these names.
#define malloc(size) checked_malloc(size)
#define calloc(count, size) checked_calloc(count, size)
#define realloc(old, size) checked_realloc(old, size)
#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <htslib/hfile.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>

namespace rivulon {

namespace {

// kseq's reader. A read error would be taken for data by this kseq, so it is
// noted in the stream's flag and reported as the end of the input.
// The first letter that is not white space must open a FASTA ('>') or FASTQ
// ('@') record; kseq would skip anything before one.
struct Source {
  BGZF* file = nullptr;
  bool failed = false;     // a read error
  bool not_fasta = false;  // something other than a record opens the input
  bool opened = false;     // the first letter has been seen
};

int read_source(Source* source, void* buffer, int size) {
  if (source->failed || source->not_fasta) return 0;
  const ssize_t got = bgzf_read(source->file, buffer, static_cast<size_t>(size));
  if (got < 0) {
    source->failed = true;
    return 0;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  for (ssize_t i = 0; i < got && !source->opened; ++i) {
    if (std::isspace(bytes[i])) continue;
    source->opened = true;
    if (bytes[i] != '>' && bytes[i] != '@') {
      source->not_fasta = true;
      return 0;
    }
  }
  return static_cast<int>(got);
}

KSEQ_INIT(Source*, read_source)
#undef malloc
#undef calloc
#undef realloc

constexpr int64_t kLongestRecord = std::numeric_limits<int32_t>::max() - 1;

}  // namespace

struct FastaReader::State {
  Source source;
  kseq_t* seq = nullptr;
  int64_t file_size = 0;  // 0 when unknown (a pipe)
  faidx_t* index = nullptr;
  std::vector<std::string> regions;
  size_t next_region = 0;

  ~State() {
    if (seq != nullptr) kseq_destroy(seq);
    if (source.file != nullptr) bgzf_close(source.file);
    if (index != nullptr) fai_destroy(index);
  }
};

FastaReader::FastaReader() = default;
FastaReader::~FastaReader() = default;

bool FastaReader::open(const std::string& path, const std::vector<std::string>& regions) {
  hts_set_log_level(HTS_LOG_OFF);  // the reader's callers tell what went wrong, in one line
  state_ = std::make_unique<State>();
  if (path != "-") {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
      error_ = "cannot read '" + path + "': " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      error_ = "cannot read '" + path + "': it is a folder";
      return false;
    }
    if (S_ISREG(info.st_mode)) state_->file_size = info.st_size;
  }
  if (!regions.empty()) {
    error_ = check_fasta_index(path, {}, warning_);  // the index's form, before htslib reads it
    if (!error_.empty()) return false;
    state_->index = fai_load3(path.c_str(), nullptr, nullptr, 0);
    if (state_->index == nullptr) {
      error_ = "cannot read the index of '" + path +
               "' (--region needs one: samtools faidx " + path + ")";
      return false;
    }
    std::vector<std::string> names;
    std::vector<std::tuple<int, hts_pos_t, hts_pos_t>> seen;
    for (const std::string& region : regions) {
      int tid = 0;
      hts_pos_t begin = 0, end = 0;
      const char* rest = fai_parse_region(state_->index, region.c_str(), &tid, &begin, &end, 0);
      if (rest == nullptr || *rest != '\0' || begin >= end) {
        error_ = "--region '" + region + "' names no stretch of '" + path + "'";
        return false;
      }
      const hts_pos_t full = faidx_seq_len(state_->index, faidx_iseq(state_->index, tid));
      if (full <= 0) {
        error_ = "--region '" + region + "' names a record without bases in '" + path + "'";
        return false;
      }
      const auto key = std::make_tuple(tid, begin, std::min(end, full));
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
        error_ = "--region '" + region + "' names a stretch given before";
        return false;
      }
      seen.push_back(key);
      names.emplace_back(faidx_iseq(state_->index, tid));
    }
    error_ = check_fasta_index(path, names, warning_);
    if (!error_.empty()) return false;
    state_->regions = regions;
    return true;
  }
  state_->source.file = bgzf_open(path.c_str(), "r");
  if (state_->source.file == nullptr) {
    error_ = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  state_->seq = kseq_init(&state_->source);
  return true;
}

FastaReader::Status FastaReader::next(FastaRecord& record) {
  State& s = *state_;
  if (s.index != nullptr) {
    if (s.next_region == s.regions.size()) return Status::kEnd;
    const std::string& region = s.regions[s.next_region++];
    int tid = 0;
    hts_pos_t begin = 0, end = 0;
    fai_parse_region(s.index, region.c_str(), &tid, &begin, &end, 0);
    const char* name = faidx_iseq(s.index, tid);
    const hts_pos_t full = faidx_seq_len(s.index, name);
    if (full > 0 && end > full) end = full;
    if (end - begin > kLongestRecord) {
      error_ = "--region '" + region + "' is longer than 2147483646 bases";
      return Status::kError;
    }
    hts_pos_t got = 0;
    char* bases = faidx_fetch_seq64(s.index, name, begin, end - 1, &got);
    if (bases == nullptr || got != end - begin) {
      std::free(bases);
      error_ = "cannot read --region '" + region + "'";
      return Status::kError;
    }
    record.name = name;
    record.bases.reset(bases);
    record.length = got;
    record.offset = begin;
    record.record_length = full;
    return Status::kRecord;
  }
  int got = 0;
  try {
    got = kseq_read(s.seq);
  } catch (const RecordTooLong&) {
    error_ = "a record is longer than 2147483646 bases";
    return Status::kError;
  }
  if (s.source.failed) {
    error_ = "the input is damaged or could not be read (a broken compressed file?)";
    return Status::kError;
  }
  if (s.source.not_fasta) {
    error_ = "the input is not FASTA: it does not start with a '>' header line";
    return Status::kError;
  }
  if (static_cast<int64_t>(s.seq->seq.l) > kLongestRecord) {  // kseq's int result has wrapped
    error_ = "a record is longer than 2147483646 bases";
    return Status::kError;
  }
  if (got == -1) return Status::kEnd;
  if (got < -1) {
    error_ = got == -3 ? "a record is too long" : "a FASTQ record has a broken quality line";
    return Status::kError;
  }
  if (static_cast<int64_t>(s.seq->seq.l) > kLongestRecord) {
    error_ = "a record is longer than 2147483646 bases";
    return Status::kError;
  }
  record.name.assign(s.seq->name.l > 0 ? s.seq->name.s : "", s.seq->name.l);
  record.description.assign(s.seq->comment.l > 0 ? s.seq->comment.s : "", s.seq->comment.l);
  record.length = static_cast<int64_t>(s.seq->seq.l);
  record.offset = 0;
  record.record_length = record.length;
  // The record takes kseq's buffer; kseq starts a fresh one for the next.
  record.bases.reset(s.seq->seq.s);
  s.seq->seq.s = nullptr;
  s.seq->seq.l = s.seq->seq.m = 0;
  return Status::kRecord;
}

namespace {

bool is_base(char c, bool keep_case) {
  switch (c) {
    case 'A': case 'C': case 'G': case 'T': return true;
    case 'a': case 'c': case 'g': case 't': return keep_case;
    default: return false;
  }
}

}  // namespace

std::vector<Segment> prepare_segments(char* bases, int64_t length, bool keep_case) {
  if (!keep_case) {
    for (int64_t i = 0; i < length; ++i) {
      if (bases[i] >= 'a' && bases[i] <= 'z') bases[i] = static_cast<char>(bases[i] - 'a' + 'A');
    }
  }
  std::vector<Segment> segments;
  int64_t i = 0;
  while (i < length) {
    while (i < length && !is_base(bases[i], keep_case)) ++i;
    const int64_t start = i;
    while (i < length && is_base(bases[i], keep_case)) ++i;
    if (i - start >= 2) segments.push_back(Segment{start, i});
  }
  return segments;
}


double FastaReader::fraction_read() const {
  const State& s = *state_;
  if (s.index != nullptr) {
    return s.regions.empty() ? 1.0
                             : static_cast<double>(s.next_region) / static_cast<double>(s.regions.size());
  }
  if (s.file_size <= 0 || s.source.file == nullptr) return 0.0;
  const off_t at = htell(s.source.file->fp);
  return std::min(1.0, static_cast<double>(at) / static_cast<double>(s.file_size));
}

}  // namespace rivulon
