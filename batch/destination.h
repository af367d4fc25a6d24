// An output file of the batch program. A regular file (or a new name) is
// written under a temporary name beside it and renamed into place when the
// run puts all its outputs in place; anything else that already stands
// under the name (/dev/null, a terminal, a named pipe) is written directly,
// never replaced. A name that is a symbolic link is written through to what
// it points at (the link itself is never replaced); a link to this process's
// standard output (/dev/stdout) writes standard output as it stands (a file
// opened for appending stays appended to); a link that leads to no path is
// written directly.
#pragma once
#include <cstdio>
#include <string>

#include "report/output_file.h"

namespace rivulon::batch {

// The path a name leads to once every symbolic link on the way is followed,
// also when the last one points at a file that does not exist yet (a
// dangling link names where the file will be written); "" for a loop.
std::string resolve_links(const std::string& name);

class Destination {
 public:
  Destination() = default;
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;
  ~Destination();

  // False when it cannot be created.
  bool open(const std::string& name);
  std::FILE* stream() const { return direct_ != nullptr ? direct_ : file_.stream(); }
  // The temporary file written in place of the name; "" when written directly.
  std::string temporary_name() const { return direct_ != nullptr || direct_written_ ? "" : file_.temporary_name(); }
  // Ends the writing; false when the file was not written whole.
  bool finish();
  // Puts a finished file in place; false when it could not be.
  bool put_in_place();
  bool commit() { return finish() && put_in_place(); }

 private:
  OutputFile file_;
  std::FILE* direct_ = nullptr;
  bool direct_written_ = false;
};

}  // namespace rivulon::batch
