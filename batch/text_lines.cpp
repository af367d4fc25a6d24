#include "batch/text_lines.h"

#include <htslib/bgzf.h>
#include <htslib/kstring.h>

#include <cstdlib>

namespace rivulon::batch {

struct TextLines::Stream {
  BGZF* file = nullptr;
  kstring_t line = KS_INITIALIZE;
};

TextLines::~TextLines() {
  if (in_ == nullptr) return;
  free(in_->line.s);
  bgzf_close(in_->file);
  delete in_;
}

bool TextLines::open(const std::string& path) {
  BGZF* file = bgzf_open(path.c_str(), "r");  // reads plain files as they are
  if (file == nullptr) return false;
  in_ = new Stream{file};
  return true;
}

bool TextLines::next(std::string& line) {
  if (in_ == nullptr || failed_) return false;
  const int got = bgzf_getline(in_->file, '\n', &in_->line);
  if (got < 0) {
    failed_ = got < -1;
    return false;
  }
  ++number_;
  line.assign(in_->line.s != nullptr ? in_->line.s : "", in_->line.l);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', at)) {
    fields.push_back(line.substr(at, tab - at));
    at = tab + 1;
  }
  fields.push_back(line.substr(at));
  return fields;
}

std::optional<int64_t> whole(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::strtoll(text.c_str(), nullptr, 10);
}

}  // namespace rivulon::batch
