// The batch program's command line and a FASTA index that may not fit its
// file: the input bytes are a genome file, its .fai and the arguments (one
// a line), separated by NUL bytes. Paths stay inside a scratch folder and
// the motifs short; every run must end with a status, never a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/run.h"

namespace {

char scratch_dir[] = "/tmp/rivulon-fuzz-index-XXXXXX";

void remove_scratch_dir() {
  std::error_code ec;
  std::filesystem::remove_all(scratch_dir, ec);
}

void write(const std::string& name, const std::string& bytes) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    if (mkdtemp(scratch_dir) == nullptr || chdir(scratch_dir) != 0) std::abort();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();  // tables without -o
    std::atexit(remove_scratch_dir);
    return true;
  }();
  (void)ready;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t first = bytes.find('\0');
  const size_t second = first == std::string::npos ? std::string::npos : bytes.find('\0', first + 1);
  write("in.fa", bytes.substr(0, first));
  write("in.fa.fai", first == std::string::npos ? "" : bytes.substr(first + 1, second - first - 1));
  std::vector<std::string> args = {"in.fa"};
  if (second != std::string::npos) {
    std::string line;
    for (size_t i = second + 1; i <= bytes.size(); ++i) {
      if (i < bytes.size() && bytes[i] != '\n') {
        line += bytes[i];
        continue;
      }
      // Nothing outside the scratch folder, no standard input, no thread storm.
      const bool safe = line.find('/') == std::string::npos && line.find("..") == std::string::npos &&
                        line != "-" && line.rfind("-t", 0) != 0 && line.rfind("--threads", 0) != 0;
      if (safe && args.size() < 24) args.push_back(line);
      line.clear();
    }
  }
  for (const char* fixed : {"-q", "-t", "2", "--max-motif", "6"}) args.emplace_back(fixed);
  const int status = rivulon::batch::run_batch(args);
  if (status < 0 || status > 5) std::abort();
  return 0;
}
