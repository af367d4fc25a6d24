#include "batch/destination.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace rivulon::batch {

Destination::~Destination() {
  if (direct_ != nullptr && direct_ != stdout) std::fclose(direct_);
}

bool Destination::open(const std::string& name) {
  std::string target = name;
  struct stat info {};
  if (lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    // A link to this process's standard output (/dev/stdout) is standard
    // output itself: written as it stands, never reopened, truncated or replaced.
    struct stat linked {}, out {};
    if (stat(name.c_str(), &linked) == 0 && fstat(STDOUT_FILENO, &out) == 0 && linked.st_dev == out.st_dev &&
        linked.st_ino == out.st_ino) {
      direct_ = stdout;
      return true;
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(name.c_str(), nullptr), &std::free);
    if (resolved == nullptr) {
      // A link to no path (a pipe, a socket) or to nothing yet: written through.
      direct_ = std::fopen(name.c_str(), "w");
      return direct_ != nullptr;
    }
    target = resolved.get();
  }
  if (stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    direct_ = std::fopen(target.c_str(), "w");
    return direct_ != nullptr;
  }
  return file_.open(target);
}

bool Destination::finish() {
  if (direct_ == nullptr) return file_.finish();
  // A write that failed earlier (a full device) is remembered by the stream
  // even when the last flush succeeds.
  bool written = std::fflush(direct_) == 0 && std::ferror(direct_) == 0;
  if (direct_ != stdout) written = std::fclose(direct_) == 0 && written;
  direct_ = nullptr;
  direct_written_ = written;
  return written;
}

bool Destination::put_in_place() { return direct_written_ || file_.put_in_place(); }

}  // namespace rivulon::batch
