#include "report/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace rivulon {

namespace {

constexpr mode_t kPageMode = 0644;  // as a plain fopen would leave it under a usual umask

}  // namespace

bool OutputFile::open(const std::string& final_name) {
  discard();
  std::string pattern = final_name + ".partXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  // mkstemp creates the file for its owner only; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, kPageMode & ~mask);
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    unlink(name.data());
    return false;
  }
  stream_ = f;
  final_name_ = final_name;
  temp_name_ = name.data();
  return true;
}

bool OutputFile::commit() {
  if (stream_ == nullptr) return false;
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  ok = (std::fclose(stream_) == 0) && ok;
  stream_ = nullptr;
  if (ok) ok = std::rename(temp_name_.c_str(), final_name_.c_str()) == 0;
  if (!ok) std::remove(temp_name_.c_str());
  temp_name_.clear();
  return ok;
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_name_.empty()) {
    std::remove(temp_name_.c_str());
    temp_name_.clear();
  }
}

}  // namespace rivulon
