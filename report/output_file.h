// An output page written under a temporary name beside its final name and
// renamed over it only when complete, so that a reader (or a run that is
// interrupted) never sees a half-written page under the final name.
#pragma once
#include <cstdio>
#include <string>

namespace rivulon {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Creates the temporary file "<final_name>.partXXXXXX" in the same
  // directory. Returns false (and holds no stream) when it cannot be created.
  bool open(const std::string& final_name);

  // The stream to write to; nullptr when not open.
  std::FILE* stream() const { return stream_; }

  // Flushes and closes the stream and renames the temporary file over the
  // final name. On any failure the temporary file is removed, the final name
  // keeps what it held, and false is returned.
  bool commit();

  // Closes and removes the temporary file, if any.
  void discard();

 private:
  std::FILE* stream_ = nullptr;
  std::string final_name_;
  std::string temp_name_;
};

}  // namespace rivulon
