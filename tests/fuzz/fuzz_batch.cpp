// The batch program on any file: the input bytes are the genome file (a gzip
// or BGZF header makes htslib inflate them), read, split, examined with short
// motifs and written in all three formats and as a masked FASTA.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/run.h"

namespace {

char scratch_dir[] = "/tmp/rivulon-fuzz-batch-XXXXXX";

void remove_scratch_dir() {
  std::error_code ec;
  std::filesystem::remove_all(scratch_dir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    if (mkdtemp(scratch_dir) == nullptr) std::abort();
    std::atexit(remove_scratch_dir);
    return std::string(scratch_dir);
  }();
  const std::string input = dir + "/in.fa";
  std::FILE* f = std::fopen(input.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  const char* definition = size > 0 && data[size - 1] % 3 == 1 ? "2" : size > 0 && data[size - 1] % 3 == 2 ? "3" : "1";
  const int status = rivulon::batch::run_batch(
      {input, "-q", "-t", "2", "--max-motif", "6", "--definition", definition, "-o", dir + "/out.tsv",
       "--bed-out", dir + "/out.bed", "--gff3-out", dir + "/out.gff3", "--masked-out",
       dir + "/masked.fa", "--html", dir + "/summary.html"});
  if (status != 0 && status != 1 && status != 5) std::abort();  // only input faults may fail
  return 0;
}
