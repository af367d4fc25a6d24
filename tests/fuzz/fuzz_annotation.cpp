// The annotation reader on arbitrary bytes, as GFF3 and as BED, and queries
// over what it read.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "batch/annotation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char name[] = "/tmp/rivulon-fuzz-annotation-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  for (const char* file : {"/a.gff3", "/a.bed"}) {
    const std::string path = dir + file;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    std::string error;
    const auto annotation = rivulon::batch::Annotation::read(path, error);
    if (annotation.has_value() == !error.empty()) __builtin_trap();
    if (!annotation) continue;
    for (int64_t at : {int64_t{0}, int64_t{5}, int64_t{1} << 40}) {
      if (annotation->names_overlapping("chr1", at, at + 100).empty()) __builtin_trap();
      if (annotation->names_overlapping("", at - 50, at).empty()) __builtin_trap();
    }
  }
  return 0;
}
