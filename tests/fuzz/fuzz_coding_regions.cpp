// The coding-region reader and the annotation on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "report/coding_regions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = rivulon::fuzzing::stream_of(data, size);
  if (f == nullptr) return 0;
  rivulon::CodingRegionTable table = rivulon::scan_coding_regions(f);
  std::fclose(f);
  if (table.count != static_cast<int32_t>(table.regions.size())) __builtin_trap();
  for (const rivulon::CodingRegion& r : table.regions) {
    if (std::strlen(r.name) > 11) __builtin_trap();
  }
  std::vector<rivulon::Repeat> repeats;
  for (int i = 0; i < 64; i += 3) repeats.push_back(rivulon::Repeat{i, i + 6, i, 3, 2, 1, 1, "2", "1.00"});
  const std::vector<std::string> names = rivulon::coding_region_names(table, repeats, 64);
  if (names.size() != repeats.size()) __builtin_trap();
  for (const std::string& name : names) {
    if (name.size() > 9) __builtin_trap();
  }
  return 0;
}
