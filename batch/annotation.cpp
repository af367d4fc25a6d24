#include "batch/annotation.h"

#include <algorithm>
#include <set>

#include "batch/text_lines.h"

namespace rivulon::batch {

namespace {

// The value of `key` in GFF3 attributes "a=1;b=2", or "".
std::string attribute(const std::string& attributes, const std::string& key) {
  size_t at = 0;
  while (at <= attributes.size()) {
    size_t end = attributes.find(';', at);
    if (end == std::string::npos) end = attributes.size();
    const std::string pair = attributes.substr(at, end - at);
    if (pair.rfind(key + "=", 0) == 0) return pair.substr(key.size() + 1);
    at = end + 1;
  }
  return "";
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<Annotation> Annotation::read(const std::string& path, std::string& error) {
  TextLines in;
  if (!in.open(path)) {
    error = "cannot read the annotation '" + path + "'";
    return std::nullopt;
  }
  std::string base = ends_with(path, ".gz") ? path.substr(0, path.size() - 3) : path;
  std::optional<bool> gff = ends_with(base, ".gff") || ends_with(base, ".gff3") ? std::optional<bool>(true)
                            : ends_with(base, ".bed")                           ? std::optional<bool>(false)
                                                                                : std::nullopt;
  Annotation a;
  std::string text;
  while (in.next(text)) {
    const int64_t number = in.number();
    if (text.empty() || text[0] == '#' || text.rfind("track", 0) == 0 || text.rfind("browser", 0) == 0) continue;
    const std::vector<std::string> f = split_tabs(text);
    if (!gff) gff = f.size() == 9 && whole(f[3]) && whole(f[4]);
    std::optional<int64_t> start = *gff ? (f.size() == 9 ? whole(f[3]) : std::nullopt) : (f.size() >= 3 ? whole(f[1]) : std::nullopt);
    std::optional<int64_t> end = *gff ? (f.size() == 9 ? whole(f[4]) : std::nullopt) : (f.size() >= 3 ? whole(f[2]) : std::nullopt);
    if (!start || !end || (*gff && *start < 1) || *end < *start) {
      error = "line " + std::to_string(number) + " of the annotation '" + path + "' holds no " + (*gff ? "GFF3" : "BED") +
              " feature";
      break;
    }
    std::string name;
    if (*gff) {
      static const std::set<std::string> kKinds = {"gene", "mRNA", "CDS", "exon"};
      if (kKinds.count(f[2]) == 0) continue;
      name = attribute(f[8], "Name");
      if (name.empty()) name = attribute(f[8], "ID");
      if (name.empty()) name = f[2] + ":" + f[3] + "-" + f[4];
      *start -= 1;  // 1-based, inclusive: to 0-based, end exclusive
    } else {
      name = f.size() >= 4 && !f[3].empty() ? f[3] : f[0] + ":" + f[1] + "-" + f[2];
    }
    Features& on = a.features_[f[0]];
    on.by_start.push_back({*start, *end, name});
    on.longest = std::max(on.longest, *end - *start);
  }
  if (in.failed() && error.empty()) error = "cannot read the annotation '" + path + "'";
  if (!error.empty()) return std::nullopt;
  for (auto& [seqid, on] : a.features_) {
    std::stable_sort(on.by_start.begin(), on.by_start.end(),
                     [](const Feature& x, const Feature& y) { return x.start < y.start; });
  }
  return a;
}

std::string Annotation::names_overlapping(const std::string& seqid, int64_t start, int64_t end) const {
  const auto found = features_.find(seqid);
  if (found == features_.end()) return ".";
  const Features& on = found->second;
  // Features that start more than the longest one's length before `start` end before it.
  auto it = std::lower_bound(on.by_start.begin(), on.by_start.end(), start - on.longest,
                             [](const Feature& f, int64_t at) { return f.start < at; });
  std::string names;
  std::set<std::string> seen;
  for (; it != on.by_start.end() && it->start < end; ++it) {
    if (it->end <= start || it->end == it->start || !seen.insert(it->name).second) continue;
    names += (names.empty() ? "" : ",") + it->name;
  }
  return names.empty() ? "." : names;
}

}  // namespace rivulon::batch
