// An output page written under a temporary name beside its final name and
// renamed over it only when complete, so that a reader (or a run that is
// interrupted) never sees a half-written page under the final name.
//
// Temporary names have one short form, ".rivulon-PPPPPPP-XXXXXX" (the
// writer's process id in seven digits, then six random characters), so that
// every final name that fits the file system can be written, and so that a
// later run can recognise the leftovers of a run that was killed.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace rivulon {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Creates the temporary file in the final name's directory. Returns false
  // (and holds no stream) when it cannot be created.
  bool open(const std::string& final_name);

  // The stream to write to; nullptr when not open.
  std::FILE* stream() const { return stream_; }

  // Flushes and closes the stream, keeping the temporary file for put_in_place.
  // False (and the temporary removed) when the page could not be written whole.
  bool finish();

  // Renames the finished temporary file over the final name. False (and the
  // temporary removed, the final name keeping what it held) on failure.
  bool put_in_place();

  // finish and put_in_place.
  bool commit() { return finish() && put_in_place(); }

  // Closes and removes the temporary file, if any.
  void discard();

 private:
  std::FILE* stream_ = nullptr;
  std::string final_name_;
  std::string temp_name_;
  int slot_ = -1;  // this temporary's place in the list of open temporaries
};

// The name a temporary of process `pid` starts with: ".rivulon-PPPPPPP-".
std::string temporary_prefix(pid_t pid);

// Removes every temporary file that an OutputFile of this process has open.
// Async-signal-safe: a signal handler may call it.
void remove_open_temporaries();

// Removes, in `dir`, the temporaries that runs which no longer exist left
// behind (killed before they could clean up): regular files named in the
// temporary form, owned by this user, last changed before `before`, whose
// process is gone. Returns how many it removed.
int remove_stale_temporaries(const std::string& dir, std::time_t before);

}  // namespace rivulon
