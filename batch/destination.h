// An output file of the batch program. A regular file (or a new name) is
// written under a temporary name and renamed into place when complete;
// anything else that already stands under the name (/dev/null, /dev/stdout,
// a named pipe) is written directly, never replaced.
#pragma once
#include <cstdio>
#include <string>

#include "report/output_file.h"

namespace rivulon::batch {

class Destination {
 public:
  Destination() = default;
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;
  ~Destination();

  // False when it cannot be created.
  bool open(const std::string& name);
  std::FILE* stream() const { return direct_ != nullptr ? direct_ : file_.stream(); }
  // Finishes the file (and puts it in place); false when it was not written whole.
  bool commit();

 private:
  OutputFile file_;
  std::FILE* direct_ = nullptr;
};

}  // namespace rivulon::batch
