// The whole pipeline: parameters and a short sequence decoded from the input,
// run through the library's face and the report writer for all three
// definitions in a scratch directory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "report/report_writer.h"
#include "rivulon/rivulon.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t next() { return at < size ? data[at++] : 0; }
  // A small alignment parameter, or with the high bit set one near the
  // dialogue's limit of 1,000,000, where 32-bit arithmetic would overflow.
  int32_t parameter(int32_t modulus) {
    const uint8_t b = next();
    const int32_t v = b % modulus;
    return (b & 0x80) ? v * (1000000 / modulus) : v;
  }
};

char scratch_dir[] = "/tmp/rivulon-fuzz-XXXXXX";

void remove_scratch_dir() {
  std::error_code ec;
  std::filesystem::remove_all(scratch_dir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(scratch_dir) == nullptr || chdir(scratch_dir) != 0) std::abort();
  std::atexit(remove_scratch_dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  rivulon::Options o;
  o.definition = 1 + in.next() % 3;
  o.match = in.parameter(8);
  o.mismatch = in.parameter(12);
  o.gap = in.parameter(12);
  o.terminal_gap = in.parameter(12);
  o.max_motif = 1 + in.next() % 64;
  if (o.definition == 3) {
    o.min_score = 30 + in.next() % 121;
  } else {
    if (o.match == 0) return 0;  // no level is admitted then
    o.level = static_cast<int32_t>(50 + static_cast<int64_t>(in.next()) * 997 % (int64_t{100} * o.match - 49));
  }
  const int flags = in.next();
  const char* alphabet = "ACGTacgt";
  std::string s;
  while (in.at < size && s.size() < 400) s += alphabet[in.next() % 8];

  rivulon::Workspace workspace;
  const rivulon::Result found = rivulon::find_repeats(s, o, workspace);
  // A failure may only be the lack of a quota; the options are valid and the
  // internal check must never fire.
  if (const auto* f = std::get_if<rivulon::Failure>(&found)) {
    if (f->cause != rivulon::Failure::Cause::kNoQuota) __builtin_trap();
    return 0;
  }
  const rivulon::ReportRequest request{rivulon::page_names_for("fuzz.fa"), (flags & 1) != 0, ((flags >> 1) & 1) != 0,
                                       nullptr, ""};
  rivulon::write_report(request, s, o, std::get<std::vector<rivulon::Repeat>>(found));
  return 0;
}
