// The whole pipeline: parameters and a short sequence decoded from the input,
// run through detection and report writing for all three definitions in a
// scratch directory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "detect/definition1.h"
#include "detect/definition2.h"
#include "detect/definition3.h"
#include "driver/sequence.h"
#include "report/report_writer.h"

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
  const int definition = 1 + in.next() % 3;
  const int32_t match = in.parameter(8);
  const int32_t mismatch = -in.parameter(12);
  const int32_t gap = -in.parameter(12);
  const int32_t terminal_gap = -in.parameter(12);
  int32_t M = 1 + in.next() % 64;
  double t;
  if (definition == 3) {
    t = 30 + in.next() % 121;
  } else {
    if (match == 0) return 0;  // the dialogue admits no level then
    const int64_t level = 50 + static_cast<int64_t>(in.next()) * 997 % (int64_t{100} * match - 49);
    t = level * 0.01;
  }
  const int flags = in.next();
  const char* alphabet = "ACGTacgt";
  std::string s;
  while (in.at < size && s.size() < 400) s += alphabet[in.next() % 8];
  const int32_t n = static_cast<int32_t>(s.size());
  if (M > n / 2) M = n / 2;

  rivulon::Sequence counted;  // only its base counts and length
  counted.n = n;
  for (char c : s) {
    switch (c) {
      case 'A': case 'a': counted.count_a += 1; break;
      case 'C': case 'c': counted.count_c += 1; break;
      case 'G': case 'g': counted.count_g += 1; break;
      default: counted.count_t += 1; break;
    }
  }
  const rivulon::SequenceView view{s.c_str(), n};
  const rivulon::Scoring scoring{match, mismatch, gap, terminal_gap};
  const rivulon::DetectionInput input{view, scoring, t, M, rivulon::match_probability(counted)};
  const rivulon::ReportRequest request{rivulon::page_names_for("fuzz.fa"), (flags & 1) != 0, ((flags >> 1) & 1) != 0, false, ""};
  // A failure may only be the lack of a quota; the internal check must never fire.
  auto failed = [](const rivulon::DetectionFailure& f) {
    if (f.cause != rivulon::DetectionFailure::Cause::kNoQuota) __builtin_trap();
  };
  if (definition == 3) {
    auto detection = rivulon::detect_definition3(input);
    if (auto* f = std::get_if<rivulon::DetectionFailure>(&detection)) {
      failed(*f);
    } else {
      rivulon::write_report(request, view, scoring, t, std::get<rivulon::PatternRepeatTable>(detection));
    }
  } else {
    auto detection = definition == 1 ? rivulon::detect_definition1(input) : rivulon::detect_definition2(input);
    if (auto* f = std::get_if<rivulon::DetectionFailure>(&detection)) {
      failed(*f);
    } else {
      rivulon::write_report(request, definition, view, scoring, std::get<rivulon::RecordTable>(detection));
    }
  }
  return 0;
}
