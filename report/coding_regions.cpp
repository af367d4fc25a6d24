#include "report/coding_regions.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <limits>
#include <optional>

namespace rivulon {

namespace {

constexpr const char* kNoncoding = "noncoding";

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The leading digits of `text` as a 32-bit number; nothing when there are
// none or they do not fit.
std::optional<int32_t> leading_number(const std::string& text) {
  int64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && is_digit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  }
  if (i == 0) return std::nullopt;
  return static_cast<int32_t>(value);
}

// Copies the first whitespace-delimited word of `text` into `out`, cut to
// size - 1 characters.
void copy_first_word(const std::string& text, char* out, size_t size) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  size_t len = 0;
  while (i + len < text.size() && !std::isspace(static_cast<unsigned char>(text[i + len])) &&
         len < size - 1) {
    ++len;
  }
  std::memcpy(out, text.data() + i, len);
  out[len] = '\0';
}

// What the pages show of a region's name: at most 9 characters, the width
// of "noncoding".
constexpr size_t kNameShown = 9;

}  // namespace

CodingRegionTable scan_coding_regions(std::FILE* in) {
  CodingRegionTable table;
  int c;
  for (;;) {
    // An entry begins with "CDS".
    do {
      c = std::getc(in);
    } while (c != EOF && c != 'C');
    if (c == EOF) break;
    int d = std::getc(in);
    if (d == EOF) break;
    int e = std::getc(in);
    if (e == EOF) break;
    if (d != 'D' || e != 'S') continue;

    // Kind: a digit starts a forward location, 'c' a complement one.
    do {
      c = std::getc(in);
    } while (c != EOF && !is_digit(c) && c != 'c');
    if (c == 'c') {
      do {
        c = std::getc(in);
      } while (c != EOF && !is_digit(c));
    }
    if (c == EOF) break;

    // Start: everything from the first digit up to the first '.'.
    std::string start(1, static_cast<char>(c));
    while ((c = std::getc(in)) != EOF && c != '.') start.push_back(static_cast<char>(c));
    if (c == EOF) break;

    // End: the second '.' dropped, a partial-location marker skipped, digits.
    c = std::getc(in);
    if (c == EOF) break;
    c = std::getc(in);
    if (c == '<' || c == '>') c = std::getc(in);
    std::string end;
    while (c != EOF && is_digit(c)) {
      end.push_back(static_cast<char>(c));
      c = std::getc(in);
    }
    if (c == EOF) break;

    // Name: the text between the next two double quotes.
    while (c != EOF && c != '"') c = std::getc(in);
    if (c == EOF) break;
    std::string name;
    while ((c = std::getc(in)) != EOF && c != '"') name.push_back(static_cast<char>(c));
    if (c == EOF) break;

    std::optional<int32_t> first = leading_number(start);
    std::optional<int32_t> last = leading_number(end);
    if (!first || !last) continue;  // unusable entry: not counted
    CodingRegion region{*first, *last, {}};
    copy_first_word(name, region.name, sizeof region.name);
    table.regions.push_back(region);
  }
  table.count = static_cast<int32_t>(table.regions.size());
  return table;
}

std::optional<CodingRegionTable> read_coding_regions(const std::string& file_name) {
  std::FILE* in = std::fopen(file_name.c_str(), "r");
  if (in == nullptr) return std::nullopt;
  // A directory opens for reading here but holds no text; a read error is no end of file.
  struct stat info {};
  if (fstat(fileno(in), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(in);
    return std::nullopt;
  }
  CodingRegionTable table = scan_coding_regions(in);
  const bool read_error = std::ferror(in) != 0;
  std::fclose(in);
  if (read_error) return std::nullopt;
  return table;
}

std::vector<std::string> coding_region_names(const CodingRegionTable& table, const std::vector<Repeat>& repeats,
                                             int64_t n) {
  std::vector<std::string> names;
  names.reserve(repeats.size());
  uint32_t k = 0;
  const uint32_t count = static_cast<uint32_t>(table.count);
  for (int64_t i = 0; i < n && names.size() < repeats.size(); ++i) {
    const uint32_t pos = static_cast<uint32_t>(i);
    if (k < count && pos >= static_cast<uint32_t>(table.regions[k].end)) ++k;
    while (names.size() < repeats.size() && repeats[names.size()].start == i) {
      const bool inside = k < count && static_cast<uint32_t>(table.regions[k].start) <= pos &&
                          pos <= static_cast<uint32_t>(table.regions[k].end);
      names.push_back(std::string(inside ? table.regions[k].name : kNoncoding).substr(0, kNameShown));
    }
  }
  names.resize(repeats.size(), kNoncoding);  // starts out of order or past n: none
  return names;
}

}  // namespace rivulon
