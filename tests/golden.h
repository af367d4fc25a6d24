// Expected-output folders: every file a run leaves, compared byte for byte
// with the folder's copy, or written into it when RIVULON_GOLDEN_UPDATE=1
// (`make golden-update`).
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "test_support.h"

namespace rivulon::testing {

inline bool golden_update() {
  const char* v = std::getenv("RIVULON_GOLDEN_UPDATE");
  return v != nullptr && std::string(v) == "1";
}

// Relative path -> content of every regular file under `dir`, except those named in `skip`.
inline std::map<std::string, std::string> read_tree(const std::string& dir,
                                                    const std::set<std::string>& skip = {}) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string rel = std::filesystem::relative(entry.path(), dir).string();
    if (skip.count(rel) == 0) files[rel] = read_file(entry.path().string());
  }
  return files;
}

// Where two texts first differ, with a little of each around it.
inline std::string first_difference(const std::string& want, const std::string& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  const size_t from = i > 40 ? i - 40 : 0;
  return "first difference at byte " + std::to_string(i) + " (expected " +
         std::to_string(want.size()) + " bytes, got " + std::to_string(got.size()) +
         ")\n  expected: ..." + want.substr(from, 100) + "\n  actual:   ..." + got.substr(from, 100);
}

// Compares `actual` (name -> content) with the files of `expected_dir`: the
// same names, the same bytes. In update mode rewrites `expected_dir` instead.
inline void expect_files(const std::string& expected_dir,
                         const std::map<std::string, std::string>& actual) {
  if (golden_update()) {
    std::filesystem::remove_all(expected_dir);
    for (const auto& [name, content] : actual) {
      const std::filesystem::path path = std::filesystem::path(expected_dir) / name;
      std::filesystem::create_directories(path.parent_path());
      write_file(path.string(), content);
    }
    return;
  }
  const std::map<std::string, std::string> expected = read_tree(expected_dir);
  for (const auto& [name, content] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      ADD_FAILURE() << expected_dir << ": the run did not leave " << name;
    } else if (it->second != content) {
      ADD_FAILURE() << expected_dir << ": " << name << " differs, "
                    << first_difference(content, it->second);
    }
  }
  for (const auto& [name, content] : actual) {
    if (expected.count(name) == 0) ADD_FAILURE() << expected_dir << ": unexpected file " << name;
  }
}

}  // namespace rivulon::testing
