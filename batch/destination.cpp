#include "batch/destination.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace rivulon::batch {

Destination::~Destination() {
  if (direct_ != nullptr && direct_ != stdout) std::fclose(direct_);
}

std::string resolve_links(const std::string& name) {
  std::string path = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1);
    const ssize_t got = readlink(path.c_str(), target.data(), target.size() - 1);
    if (got < 0) return path;
    const std::string to(target.data(), static_cast<size_t>(got));
    const size_t slash = path.find_last_of('/');
    path = to.empty() || to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
  }
  return "";
}

bool Destination::open(const std::string& name) {
  std::string target = name;
  struct stat info {};
  if (lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    struct stat linked {}, out {};
    if (stat(name.c_str(), &linked) != 0) {
      // A link to a file not there yet: the file is made where the link leads.
      target = resolve_links(name);
      if (target.empty()) return false;
    } else if (fstat(STDOUT_FILENO, &out) == 0 && linked.st_dev == out.st_dev && linked.st_ino == out.st_ino) {
      // A link to this process's standard output (/dev/stdout) is standard
      // output itself: written as it stands, never reopened, truncated or replaced.
      direct_ = stdout;
      return true;
    } else if (!S_ISREG(linked.st_mode)) {
      direct_ = std::fopen(name.c_str(), "w");  // a device or pipe, written through the link
      return direct_ != nullptr;
    } else {
      std::unique_ptr<char, decltype(&std::free)> resolved(realpath(name.c_str(), nullptr), &std::free);
      if (resolved == nullptr) return false;
      target = resolved.get();
    }
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
