// An output page written under a temporary name beside its final name and
// renamed over it only when complete, so that a reader (or a run that is
// interrupted) never sees a half-written page under the final name.
//
// Temporary names have one short form, ".rivulon-HOST-PPPPPPP-XXXXXX" (the
// writer's host name, at most 64 characters of letters, digits, '.' and '-';
// its process id in seven digits; six random characters), so that every final
// name that fits the file system can be written, and so that a later run can
// recognise the leftovers of a run that was killed. The host name matters on
// a shared file system: a process id says nothing about another node.
//
// A final name that already exists and that this user may not write (a
// write-protected earlier output) is not replaced: open fails with EACCES.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace rivulon {

struct ListedTemporary;

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // A moved file keeps its temporary (still listed for the signal handlers).
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
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

  const std::string& final_name() const { return final_name_; }
  // The temporary file's name while it is open or finished, not yet in place.
  const std::string& temporary_name() const { return temp_name_; }

 private:
  std::FILE* stream_ = nullptr;
  std::string final_name_;
  std::string temp_name_;
  ListedTemporary* listed_ = nullptr;  // this temporary's entry in the list of open temporaries
};

// A folder of files written under a temporary name beside its final name
// (of the same form as a temporary file's) and put in place whole with one
// rename, which exchanges it with an earlier folder of that name (then
// removed): a reader, or a run that is interrupted, finds the earlier folder
// whole or the new one whole. The folder holds files only; an ending signal
// removes it with them (remove_open_temporaries). The earlier folder's files
// are removed, never a folder inside it (then it stays, under a temporary
// name, for the user to look at).
class OutputFolder {
 public:
  OutputFolder() = default;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder();

  // Creates the temporary folder beside `final_name`. False when it cannot.
  bool open(const std::string& final_name);
  // The temporary folder, while open; files go in it.
  const std::string& path() const { return temp_name_; }
  // Puts the folder in place (over an earlier folder, never over a file).
  // False, and the temporary removed, when it cannot.
  bool put_in_place();
  // Removes the temporary folder and its files, if any.
  void discard();

 private:
  std::string final_name_, temp_name_;
  ListedTemporary* listed_ = nullptr;
};

// The name a temporary of process `pid` on this host starts with:
// ".rivulon-HOST-PPPPPPP-".
std::string temporary_prefix(pid_t pid);

// Removes every temporary file that an OutputFile of this process has open,
// for good: a temporary being created on another thread is waited for and
// removed too, and no OutputFile opens after this (open blocks its thread
// for the short time until the process ends). For a process about to end by
// a signal. Async-signal-safe: a signal handler may call it, on any thread.
void remove_open_temporaries();

// Removes, in `dir`, the temporaries that runs on this host which no longer
// exist left behind (killed before they could clean up): regular files and
// folders of files named
// in the temporary form with this host's name, owned by this user, last
// changed no later than the second `before`, whose process is gone. Returns how many it removed.
int remove_stale_temporaries(const std::string& dir, std::time_t before);

// Output folders are shared by runs that write pages there: a run of the
// console program holds its folder shared (several such runs write different
// pages), a run that writes pages of many records into a folder holds it
// alone. An advisory lock (flock) on the folder itself, held until the
// process ends (or release_folder). Returns the lock's descriptor, -1 when
// another run holds the folder in a way that excludes this one, and -2 when
// the folder cannot be opened (then the run goes on unlocked).
int lock_folder(const std::string& dir, bool alone);
void release_folder(int fd);

}  // namespace rivulon
