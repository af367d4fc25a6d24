// The coding-region reader and the annotation on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

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
  rivulon::RecordTable records(64);
  for (int i = 0; i < 64; i += 3) {
    records.append_to_chain(i, records.add_repeat(rivulon::RepeatRecord{i, 3, 2, 1.0f, 0, {}}));
  }
  rivulon::annotate_coding_regions(table, records, 64);
  for (const rivulon::RepeatRecord& r : records.repeats) {
    if (std::strlen(r.coding_name) > 9) __builtin_trap();
  }
  return 0;
}
