// Reading the text files the batch program takes besides its input (an
// annotation, a table of an earlier run): plain or gzip (bgzip too), one
// line at a time, and the tab-separated fields of a line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivulon::batch {

class TextLines {
 public:
  TextLines() = default;
  TextLines(const TextLines&) = delete;
  TextLines& operator=(const TextLines&) = delete;
  ~TextLines();

  // False when the file cannot be opened.
  bool open(const std::string& path);
  // The next line, without its line end ("\n" or "\r\n"); false at the end
  // or on a read error (then `failed()`).
  bool next(std::string& line);
  bool failed() const { return failed_; }
  int64_t number() const { return number_; }  // of the last line read, from 1

 private:
  struct Stream;
  Stream* in_ = nullptr;
  int64_t number_ = 0;
  bool failed_ = false;
};

std::vector<std::string> split_tabs(const std::string& line);

// A whole number of at most 18 digits, no sign; nothing otherwise.
std::optional<int64_t> whole(const std::string& text);

}  // namespace rivulon::batch
