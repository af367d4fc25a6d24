// The records' names, checked as the records are read.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

namespace rivulon::batch {

// Every record is named, and no two alike: the names key every output.
class RecordNames {
 public:
  // "" when `name` may be the name of the next record; otherwise why not.
  std::string check(const std::string& name) {
    ++records_;
    if (name.empty()) return "record " + std::to_string(records_) + " has no name (no word right after the '>' of its header line)";
    const auto [at, fresh] = first_.emplace(name, records_);
    if (fresh) return "";
    return "records " + std::to_string(at->second) + " and " + std::to_string(records_) + " are both named '" +
           name + "'; give every record its own name";
  }

 private:
  int64_t records_ = 0;
  std::unordered_map<std::string, int64_t> first_;
};

}  // namespace rivulon::batch
