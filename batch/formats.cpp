#include "batch/formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace rivulon::batch {

// At most up to the end of the held bases.
std::string motif_of(const FastaRecord& record, const FoundRepeat& r) {
  const int64_t from = r.motif_start - record.offset;
  const int64_t to = std::min<int64_t>(from + r.motif_length, record.length);
  if (from < 0 || from >= to) return ".";
  return std::string(record.bases.get() + from, static_cast<size_t>(to - from));
}

int bed_score(const FoundRepeat& r, int definition, int32_t match) {
  const double best = definition == 3 ? static_cast<double>(match) * static_cast<double>(r.end - r.start)
                                      : static_cast<double>(match);
  if (!(best > 0)) return 0;
  const double scaled = std::round(1000.0 * r.value / best);
  return static_cast<int>(std::clamp(scaled, 0.0, 1000.0));
}

std::string gff3_seqid(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || std::strchr(".:^*$@!+_?|-", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      out += code;
    }
  }
  return out;
}

void RepeatWriter::write_header() {
  switch (format_) {
    case OutputFormat::kTsv:
      std::fputs("seqid\tstart\tend\tmotif_length\tunits\tsimilarity_or_score\tdefinition\tmotif\n",
                 out_);
      break;
    case OutputFormat::kGff3:
      std::fputs("##gff-version 3\n", out_);
      break;
    case OutputFormat::kBed:
      break;
  }
}

void RepeatWriter::write_record(const FastaRecord& record, const std::vector<FoundRepeat>& repeats) {
  const char* name = record.name.c_str();
  const std::string seqid = format_ == OutputFormat::kGff3 ? gff3_seqid(record.name) : "";
  if (format_ == OutputFormat::kGff3 && !repeats.empty() &&
      regions_declared_.insert(record.name).second) {
    std::fprintf(out_, "##sequence-region %s 1 %lld\n", seqid.c_str(),
                 static_cast<long long>(record.record_length));
  }
  for (const FoundRepeat& r : repeats) {
    const std::string motif = motif_of(record, r);
    const long long start = r.start, end = r.end;
    switch (format_) {
      case OutputFormat::kTsv:
        std::fprintf(out_, "%s\t%lld\t%lld\t%d\t%s\t%s\t%d\t%s\n", name, start + 1, end,
                     r.motif_length, r.units_text.c_str(), r.value_text.c_str(), options_.definition,
                     motif.c_str());
        break;
      case OutputFormat::kBed:
        std::fprintf(out_, "%s\t%lld\t%lld\t%dx%s\t%d\t.\t%d\t%s\t%s\t%s\n", name, start, end,
                     r.motif_length, r.units_text.c_str(),
                     bed_score(r, options_.definition, options_.match), r.motif_length,
                     r.units_text.c_str(), r.value_text.c_str(), motif.c_str());
        break;
      case OutputFormat::kGff3:
        std::fprintf(out_,
                     "%s\trivulon\ttandem_repeat\t%lld\t%lld\t%s\t.\t.\tperiod=%d;copies=%s;"
                     "consensus=%s\n",
                     seqid.c_str(), start + 1, end, r.value_text.c_str(),
                     r.motif_length, r.units_text.c_str(), motif.c_str());
        break;
    }
  }
}

void write_masked(std::FILE* out, FastaRecord& record, const std::vector<FoundRepeat>& repeats,
                  MaskStyle style) {
  char* bases = record.bases.get();
  const size_t length = static_cast<size_t>(record.length);
  for (const FoundRepeat& r : repeats) {
    const int64_t from = std::max<int64_t>(r.start - record.offset, 0);
    const int64_t to = std::min<int64_t>(r.end - record.offset, record.length);
    for (int64_t i = from; i < to; ++i) {
      char& c = bases[i];
      c = style == MaskStyle::kHard ? 'N' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  std::fprintf(out, ">%s", record.name.c_str());
  if (record.offset != 0 || record.length != record.record_length) {
    std::fprintf(out, ":%lld-%lld", static_cast<long long>(record.offset + 1),
                 static_cast<long long>(record.offset + record.length));
  }
  std::fputc('\n', out);
  constexpr size_t kLine = 60;
  for (size_t i = 0; i < length; i += kLine) {
    std::fwrite(bases + i, 1, std::min(kLine, length - i), out);
    std::fputc('\n', out);
  }
}

}  // namespace rivulon::batch
