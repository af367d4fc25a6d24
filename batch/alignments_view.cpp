#include "batch/alignments_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "batch/formats.h"
#include "batch/page/assets.h"
#include "batch/summary_page.h"
#include "report/escape.h"

namespace rivulon::batch {

namespace {

constexpr const char* kGenerator = "<meta name=\"generator\" content=\"rivulon-batch alignments view\">";

// `page` with each @SLOT@ replaced by its text in `slots`.
std::string fill(std::string_view page, const std::map<std::string, std::string>& slots) {
  std::string out;
  size_t at = 0;
  while (at < page.size()) {
    const size_t open = page.find('@', at);
    const size_t close = open == std::string_view::npos ? open : page.find('@', open + 1);
    if (close == std::string_view::npos) {
      out.append(page.substr(at));
      break;
    }
    out.append(page.substr(at, open - at));
    const auto slot = slots.find(std::string(page.substr(open + 1, close - open - 1)));
    out += slot != slots.end() ? slot->second : std::string(page.substr(open, close - open + 1));
    at = close + 1;
  }
  return out;
}

// True for the names of the files a view holds.
bool view_file(const std::string& name) {
  static const std::regex kNames(R"(index\.html|view\.css|view\.js|record-\d{6,}\.html|record-\d{6,}-\d{4,}\.js)");
  return std::regex_match(name, kNames);
}

// True when `path` is a regular file that opens as an earlier view's index.
bool earlier_index(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  std::string head(4096, '\0');
  ssize_t got = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) got = read(fd, head.data(), head.size());
  close(fd);
  return got > 0 && head.substr(0, static_cast<size_t>(got)).find(kGenerator) != std::string::npos;
}

// "" when `dir` may be replaced whole: missing, or an empty folder, or a
// folder of an earlier view's files only (regular files of its names, with
// its index) that this user may write; otherwise why not.
std::string not_replaceable(const std::string& dir) {
  namespace fs = std::filesystem;
  const std::string named = "--report-dir '" + dir + "'";
  const std::string last = fs::path(dir).filename().string();
  if (dir.empty() || last == "." || last == "..") return named + " names no folder of its own: name the folder itself";
  std::error_code failed;
  const fs::file_status status = fs::symlink_status(dir, failed);
  if (!fs::exists(status)) return "";
  if (fs::is_symlink(status)) return named + " is a link: name the folder itself";
  if (!fs::is_directory(status)) return named + " is not a folder";
  if (access(dir.c_str(), W_OK) != 0) return "cannot write in " + named + ": it is write-protected";
  bool empty = true;
  for (fs::directory_iterator it(dir, failed), end; !failed && it != end; it.increment(failed)) {
    empty = false;
    if (!view_file(it->path().filename().string()) || !fs::is_regular_file(it->symlink_status(failed))) {
      return named + " holds files an earlier run did not write there; the alignments view replaces its folder "
             "whole: name a new or empty folder (or add --classic-pages)";
    }
  }
  if (failed) return "cannot read " + named;
  if (!empty && !earlier_index(dir + "/index.html")) {
    return named + " holds no alignments view of an earlier run: name a new or empty folder";
  }
  return "";
}

// A record as its pages name it: at most kShownName bytes of its name (then
// "…"), and its bounds when it is a region of the record.
std::string shown_name(const FastaRecord& record) {
  std::string name = record.name.substr(0, AlignmentsView::kShownName);
  if (name.size() < record.name.size()) name += "\u2026";
  if (record.offset > 0 || record.length < record.record_length) {
    name += ":" + std::to_string(record.offset + 1) + "-" + std::to_string(record.offset + record.length);
  }
  return name;
}

// The summary page as a URL from the folder `dir`.
std::string link_from(const std::string& dir, const std::string& page) {
  namespace fs = std::filesystem;
  std::error_code failed;
  const fs::path relative = fs::proximate(fs::absolute(page, failed), fs::absolute(dir, failed), failed);
  std::string link;
  for (const fs::path& part : relative) {
    if (part == "." || part.empty()) continue;
    link.append(link.empty() ? "" : "/").append(url_escape(part.string()));
  }
  return link;
}

// `texts` as a JSON array of strings.
std::string json_array(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (const std::string& text : texts) out.append(out.size() > 1 ? "," : "").append(json_string(text));
  return out + "]";
}

// One copy as the page's script reads it: [start, end, first column,
// letters, insertions [[before, bases, length]], percent matches]; inserted
// letters past the copy's first kInsertionLetters show only their count.
std::string copy_json(const CopyAlignment& c) {
  std::string out = "[";
  out.append(std::to_string(c.start + 1)).append(",").append(std::to_string(c.end)).append(",");
  out.append(std::to_string(c.first_column)).append(",").append(json_string(c.letters)).append(",[");
  size_t letters = 0;
  for (size_t i = 0; i < c.insertions.size(); ++i) {
    const auto& [before, bases] = c.insertions[i];
    const size_t kept = std::min(bases.size(), AlignmentsView::kInsertionLetters - std::min(letters, AlignmentsView::kInsertionLetters));
    letters += kept;
    out.append(i > 0 ? ",[" : "[").append(std::to_string(before)).append(",");
    out.append(json_string(bases.substr(0, kept))).append(",").append(std::to_string(bases.size())).append("]");
  }
  return out + "]," + std::to_string(c.percent_matches) + "]";
}

}  // namespace

std::string AlignmentsView::page_name(int64_t ordinal) {
  char name[32];
  std::snprintf(name, sizeof name, "record-%06lld.html", static_cast<long long>(ordinal));
  return name;
}

std::string AlignmentsView::open() {
  const std::string dir = view_folder(options_.report_dir);
  if (std::string why = not_replaceable(dir); !why.empty()) return why;
  // Its parent folders are made as needed; the view goes beside it.
  std::error_code failed;
  const std::filesystem::path parent = std::filesystem::path(dir).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, failed);
  if (!folder_.open(dir)) return "cannot create a folder beside '" + options_.report_dir + "'";
  navigation_ = "<a href=\"index.html\">All records</a>";
  if (!options_.html.empty()) {
    navigation_.append("<a href=\"").append(html_escape(link_from(options_.report_dir, options_.html)));
    navigation_.append("\">Summary page</a>");
  }
  return "";
}

bool AlignmentsView::write_file(const std::string& name, const std::string& text) const {
  std::FILE* out = std::fopen((folder_.path() + "/" + name).c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && written;
}

bool AlignmentsView::add(const FastaRecord& record, int64_t ordinal, const std::vector<FoundRepeat>& repeats,
                         const std::vector<RepeatStatistics>& statistics, const std::vector<CopyLayout>& layouts) {
  if (repeats.empty()) return true;
  std::string stem = page_name(ordinal);
  stem.resize(stem.size() - std::strlen(".html"));
  bool written = true;
  std::string part, parts_json;
  int32_t parts = 0;
  const auto flush = [&] {
    if (part.empty()) return;
    char name[16];
    std::snprintf(name, sizeof name, "-%04d.js", parts + 1);
    written = write_file(stem + name, "rivulonChunk(" + std::to_string(parts) + ",[" + part + "]);\n") && written;
    ++parts;
    part.clear();
  };
  for (size_t k = 0; k < repeats.size(); ++k) {
    const CopyLayout& layout = layouts[k];
    const std::string fields = json_array(tsv_columns(repeats[k], statistics[k], motif_of(record, repeats[k])));
    const std::string n = std::to_string(k + 1);
    const std::string head = "[" + n + "," + fields + "," + std::to_string(layout.aligned_start + 1) + "," +
                             std::to_string(layout.aligned_end) + "," + std::to_string(layout.copies.size()) + ",";
    size_t c = 0;
    do {  // the copies in pieces, each within half a part
      std::string copies;
      const size_t first = c;
      for (; c < layout.copies.size() && c - first < kPieceCopies && copies.size() < kPartBytes / 2; ++c) {
        copies.append(copies.empty() ? "" : ",").append(copy_json(layout.copies[c]));
      }
      const std::string piece = head + std::to_string(first) + ",[" + copies + "]]";
      if (!part.empty() && part.size() + piece.size() > kPartBytes) flush();
      if (part.empty()) parts_json.append(parts_json.empty() ? "[" : ",[").append(n).append(",").append(std::to_string(first)).append("]");
      part.append(part.empty() ? "" : ",").append(piece);
    } while (c < layout.copies.size());
  }
  flush();
  const std::string config = "{\"record\":" + json_string(shown_name(record)) + ",\"length\":" +
                             std::to_string(record.record_length) + ",\"count\":" + std::to_string(repeats.size()) +
                             ",\"fields\":" + json_array(tsv_column_names(options_)) + ",\"chunks\":[" + parts_json + "],\"stem\":" + json_string(stem) + "}";
  const std::string name = html_escape(shown_name(record));
  char about[160];
  std::snprintf(about, sizeof about, "%lld bases, %zu repeats.", static_cast<long long>(record.record_length),
                repeats.size());
  written = write_file(stem + ".html", fill(page::record_html(), {{"RECORD", name}, {"NAV", navigation_},
                                                                   {"ABOUT", about}, {"COUNT", std::to_string(repeats.size())},
                                                                   {"CONFIG", config}})) && written;
  const std::string row = "<tr><td><a href=\"" + stem + ".html\">" + name + "</a></td><td class=\"num\">" +
                          std::to_string(record.record_length) + "</td><td class=\"num\">" +
                          std::to_string(repeats.size()) + "</td></tr>\n";
  if (listed_.size() + row.size() <= kIndexBytes) {
    listed_ += row;
  } else {
    ++unlisted_;
  }
  return written;
}

bool AlignmentsView::finish() {
  const std::string input = html_escape(options_.input == "-" ? "standard input" : options_.input);
  std::string cut;
  if (unlisted_ > 0) {
    cut.append(" ").append(std::to_string(unlisted_));
    cut.append(" more records with repeats are not listed here; the summary page and the tables lead to their pages.");
  }
  bool written = write_file("index.html", fill(page::index_html(), {{"INPUT", input}, {"NAV", navigation_},
                                                                     {"CUT", cut}, {"ROWS", listed_}}));
  written = write_file("view.css", std::string(page::view_css())) && written;
  return write_file("view.js", std::string(page::view_js())) && written;
}

}  // namespace rivulon::batch

namespace rivulon::batch {

std::string AlignmentsView::put_in_place() {
  // Looked at again: the folder may have changed while the run went on.
  const std::string dir = view_folder(options_.report_dir);
  if (std::string why = not_replaceable(dir); !why.empty()) {
    folder_.discard();
    return why;
  }
  return folder_.put_in_place() ? "" : "cannot put '" + options_.report_dir + "' in place";
}

}  // namespace rivulon::batch

namespace rivulon::batch {

std::string view_folder(std::string report_dir) {
  while (report_dir.size() > 1 && report_dir.back() == '/') report_dir.pop_back();
  return report_dir;
}

}  // namespace rivulon::batch
