#include "rivulon/genome_index.h"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

namespace rivulon {

namespace {

constexpr int64_t kLongestHeader = 1 << 20;  // a header line longer than this is no header

struct IndexLine {
  std::string name;
  int64_t length = 0, offset = 0, line_bases = 0, line_bytes = 0;
};

bool whole(const std::string& text, int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// Reads the bytes [from, from + size) of the file's content (uncompressed).
class Content {
 public:
  virtual ~Content() = default;
  // False when the bytes do not all exist.
  virtual bool read(int64_t from, int64_t size, std::string& out) = 0;
};

class PlainContent : public Content {
 public:
  explicit PlainContent(int fd) : fd_(fd) {}
  bool read(int64_t from, int64_t size, std::string& out) override {
    out.resize(static_cast<size_t>(size));
    int64_t got = 0;
    while (got < size) {
      const ssize_t n = pread(fd_, out.data() + got, static_cast<size_t>(size - got), from + got);
      if (n <= 0) return false;
      got += n;
    }
    return true;
  }

 private:
  int fd_;
};

class BgzfContent : public Content {
 public:
  explicit BgzfContent(BGZF* file) : file_(file) {}
  bool read(int64_t from, int64_t size, std::string& out) override {
    out.resize(static_cast<size_t>(size));
    if (bgzf_useek(file_, from, SEEK_SET) != 0) return false;
    return bgzf_read(file_, out.data(), static_cast<size_t>(size)) == size;
  }

 private:
  BGZF* file_;
};

std::string reindex(const std::string& fasta, const std::string& what) {
  return "the index of '" + fasta + "' does not fit the file (" + what +
         "); re-index it: samtools faidx '" + fasta + "'";
}

// The .gzi of a bgzip file of `compressed_size` bytes; "" when sound.
std::string check_gzi(const std::string& fasta, int fd, int64_t compressed_size) {
  std::ifstream in(fasta + ".gzi", std::ios::binary);
  if (!in) return "";  // the reader says that it is missing
  auto u64 = [&in](uint64_t& v) {
    unsigned char b[8];
    if (!in.read(reinterpret_cast<char*>(b), 8)) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
    return true;
  };
  uint64_t count = 0;
  if (!u64(count) || count > static_cast<uint64_t>(compressed_size)) return reindex(fasta, "a damaged .gzi");
  uint64_t last_compressed = 0, last_plain = 0;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t compressed = 0, plain = 0;
    if (!u64(compressed) || !u64(plain)) return reindex(fasta, "a damaged .gzi");
    if (compressed <= last_compressed || plain <= last_plain ||
        compressed >= static_cast<uint64_t>(compressed_size)) {
      return reindex(fasta, "the .gzi lists a block outside the file");
    }
    unsigned char magic[4];
    if (pread(fd, magic, 4, static_cast<off_t>(compressed)) != 4 || magic[0] != 0x1f || magic[1] != 0x8b ||
        magic[2] != 8 || magic[3] != 4) {
      return reindex(fasta, "the .gzi lists a block where the file has none");
    }
    last_compressed = compressed;
    last_plain = plain;
  }
  if (in.peek() != std::char_traits<char>::eof()) return reindex(fasta, "a damaged .gzi");
  return "";
}

// The record `r` against the file's content: its bases end inside the file
// and its header line ends right before its offset.
std::string check_record(const std::string& fasta, const IndexLine& r, Content& content) {
  const std::string where = "record '" + r.name + "'";
  if (r.length > 0) {
    const int64_t full_lines = r.length / r.line_bases, rest = r.length % r.line_bases;
    if (full_lines > (std::numeric_limits<int64_t>::max() - r.offset) / r.line_bytes - 1) {
      return reindex(fasta, where + " would end past the end of the file");
    }
    const int64_t last = r.offset + full_lines * r.line_bytes + rest - (rest == 0 ? r.line_bytes - r.line_bases + 1 : 1);
    std::string byte;
    if (!content.read(last, 1, byte)) return reindex(fasta, where + " would end past the end of the file");
    // The first line ends where the index says lines end (a file wrapped
    // anew under an old index does not).
    if (r.length > r.line_bases) {
      std::string end_of_line;
      if (!content.read(r.offset + r.line_bases, r.line_bytes - r.line_bases, end_of_line) ||
          end_of_line.back() != '\n' || end_of_line.find_first_not_of("\r\n") != std::string::npos) {
        return reindex(fasta, where + "'s lines do not end where the index says");
      }
    }
  }
  if (r.offset < 2) return reindex(fasta, where + " has no header line before it");
  std::string window;
  for (int64_t size = std::min<int64_t>(4096, r.offset);; size = std::min(size * 4, r.offset)) {
    if (!content.read(r.offset - size, size, window)) {
      return reindex(fasta, where + " starts past the end of the file");
    }
    if (window.back() != '\n') return reindex(fasta, where + " does not start after a line end");
    const size_t previous = window.find_last_of('\n', window.size() - 2);
    if (previous != std::string::npos || size == r.offset) {
      std::string header = window.substr(previous == std::string::npos ? 0 : previous + 1);
      header.pop_back();
      if (!header.empty() && header.back() == '\r') header.pop_back();
      const std::string expected = ">" + r.name;
      const bool named = header.compare(0, expected.size(), expected) == 0 &&
                         (header.size() == expected.size() || header[expected.size()] == ' ' ||
                          header[expected.size()] == '\t');
      return named ? "" : reindex(fasta, where + " is not under its header line");
    }
    if (size >= kLongestHeader) return reindex(fasta, where + " is not under its header line");
  }
}

}  // namespace

std::string check_fasta_index(const std::string& fasta, const std::vector<std::string>& records,
                              std::string& warning) {
  const std::string fai = fasta + ".fai";
  std::ifstream in(fai);
  if (!in) return "";
  std::vector<IndexLine> lines;
  std::string text;
  for (int64_t number = 1; std::getline(in, text); ++number) {
    std::istringstream fields(text);
    std::vector<std::string> f;
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    IndexLine line;
    if (f.size() < 5 || f.size() > 6 || f[0].empty() || !whole(f[1], line.length) || !whole(f[2], line.offset) ||
        !whole(f[3], line.line_bases) || !whole(f[4], line.line_bytes) ||
        (line.length > 0 && (line.line_bases == 0 || line.line_bytes < line.line_bases))) {
      return reindex(fasta, "line " + std::to_string(number) + " of '" + fai + "' is damaged");
    }
    line.name = f[0];
    if (std::find(records.begin(), records.end(), line.name) != records.end()) lines.push_back(std::move(line));
  }
  const int fd = ::open(fasta.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";  // the reader says why
  struct stat file_info {}, index_info {};
  fstat(fd, &file_info);
  if (stat(fai.c_str(), &index_info) == 0 && index_info.st_mtime < file_info.st_mtime) {
    warning = "the index '" + fai + "' is older than '" + fasta +
              "'; if the file has changed since, re-index it (samtools faidx)";
  }
  std::string error;
  BGZF* bgzf = bgzf_open(fasta.c_str(), "r");
  if (bgzf != nullptr && bgzf_compression(bgzf) == 2) {
    error = check_gzi(fasta, fd, file_info.st_size);
    if (error.empty() && bgzf_index_load(bgzf, fasta.c_str(), ".gzi") == 0) {
      BgzfContent content(bgzf);
      for (const IndexLine& line : lines) {
        if (!(error = check_record(fasta, line, content)).empty()) break;
      }
    }
  } else if (bgzf != nullptr && bgzf_compression(bgzf) == 0) {
    PlainContent content(fd);
    for (const IndexLine& line : lines) {
      if (!(error = check_record(fasta, line, content)).empty()) break;
    }
  }
  if (bgzf != nullptr) bgzf_close(bgzf);
  close(fd);
  return error;
}

}  // namespace rivulon
