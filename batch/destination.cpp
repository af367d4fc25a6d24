#include "batch/destination.h"

#include <sys/stat.h>

namespace rivulon::batch {

Destination::~Destination() {
  if (direct_ != nullptr) std::fclose(direct_);
}

bool Destination::open(const std::string& name) {
  struct stat info {};
  if (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    direct_ = std::fopen(name.c_str(), "w");
    return direct_ != nullptr;
  }
  return file_.open(name);
}

bool Destination::commit() {
  if (direct_ == nullptr) return file_.commit();
  const bool written = std::fclose(direct_) == 0;
  direct_ = nullptr;
  return written;
}

}  // namespace rivulon::batch
