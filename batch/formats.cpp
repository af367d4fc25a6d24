#include "batch/formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace rivulon::batch {

namespace {

const char* or_dot(const std::string& text) { return text.empty() ? "." : text.c_str(); }

constexpr int64_t kFlank = 50;  // letters on each side of a repeat in TRF's -ngs layout

std::string held_letters(const FastaRecord& record, int64_t from, int64_t to);

// A GFF3 attribute value: the names joined by commas, with ';', '=', '&',
// tabs and line ends in a name percent-encoded (commas stay as separators).
std::string gff3_attribute(const std::string& names) {
  std::string out;
  for (unsigned char c : names) {
    if (c == ';' || c == '=' || c == '&' || c < 0x20 || c == '%') {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string one_decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

// At most up to the end of the held bases.
std::string motif_of(const FastaRecord& record, const FoundRepeat& r) {
  const int64_t from = r.motif_start - record.offset;
  const int64_t to = std::min<int64_t>(from + r.motif_length, record.length);
  if (from < 0 || from >= to) return ".";
  return std::string(record.bases.get() + from, static_cast<size_t>(to - from));
}

int bed_score(const FoundRepeat& r, int definition, int32_t match) {
  // Definitions 1 and 2 give a similarity per base; the others a score.
  const bool per_base = definition == 1 || definition == 2;
  const double best = per_base ? static_cast<double>(match) : static_cast<double>(match) * static_cast<double>(r.end - r.start);
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

std::string run_parameters(const BatchOptions& o) {
  std::string text;
  for (const Parameter& p : parameters()) {
    if ((p.field == &Options::level && o.definition == 3) || (p.field == &Options::min_score && o.definition != 3)) continue;
    std::string name = p.option + 2;  // "--max-motif" -> "max_motif"
    std::replace(name.begin(), name.end(), '-', '_');
    text += (text.empty() ? "" : " ") + name + "=" + std::to_string(o.*p.field);
  }
  char filters[160];
  std::snprintf(filters, sizeof filters,
                " overlaps=%s adjacent_copies=%s min_copies=%g min_length=%lld min_identity=%d min_consensus_score=%lld",
                o.overlaps == Overlaps::kBest ? "best" : "all",
                o.overlaps == Overlaps::kBest && o.definition == 3 && o.adjacent_copies ? "yes" : "no", o.min_copies, static_cast<long long>(o.min_length),
                o.min_identity, static_cast<long long>(o.min_consensus_score));
  return text + filters;
}

void write_provenance(std::FILE* out, const BatchOptions& options, const char* comment, const std::string& table) {
  std::fprintf(out, "%srivulon-batch %s, %s (CHANGELOG.md says what each version changed)\n", comment, version(),
               table.c_str());
  std::fprintf(out, "%scommand: %s\n", comment, options.command.c_str());
  std::fprintf(out, "%sparameters: %s\n", comment, run_parameters(options).c_str());
}

void RepeatWriter::write_header() {
  if (format_ == OutputFormat::kTrfNgs) return;
  if (format_ == OutputFormat::kTrfDat) {
    std::fprintf(out_, "Tandem repeats found by rivulon-batch %s, in TRF's .dat layout\n\ncommand: %s\n\n", version(),
                 options_.command.c_str());
    return;
  }
  const char* comment = format_ == OutputFormat::kGff3 ? "# " : "#";
  if (format_ == OutputFormat::kGff3) std::fputs("##gff-version 3\n", out_);
  write_provenance(out_, options_, comment,
                   std::string(format_ == OutputFormat::kTsv   ? "TSV"
                               : format_ == OutputFormat::kBed ? "BED"
                                                               : "GFF3") +
                       " schema " + std::to_string(kSchemaVersion));
  if (format_ == OutputFormat::kTsv) {
    std::string names = "seqid";
    for (const std::string& name : tsv_column_names(options_)) names += "\t" + name;
    std::fprintf(out_, "%s%s\n", names.c_str(),
                 std::string(options_.flanks >= 0 ? "\tsequence\tleft_flank\tright_flank" : "")
                     .append(annotation_ != nullptr ? "\tannotation" : "")
                     .c_str());
  }
}

std::vector<std::string> tsv_column_names(const BatchOptions& options) {
  return {"start", "end", "motif_length", "units", options.definition == 3 ? "pattern_score" : "similarity",
          "definition", "motif", "length", "period", "copies", "consensus", "percent_matches", "percent_indels",
          "consensus_score", "A", "C", "G", "T", "entropy", "canonical_motif"};
}

std::vector<std::string> tsv_columns(const FoundRepeat& r, const RepeatStatistics& st, const std::string& motif) {
  char copies[32], entropy[32];
  std::snprintf(copies, sizeof copies, "%.1f", st.copies);
  std::snprintf(entropy, sizeof entropy, "%.2f", st.entropy);
  return {std::to_string(r.start + 1), std::to_string(r.end), std::to_string(r.motif_length), r.units_text,
          r.value_text, std::to_string(r.definition), motif, std::to_string(st.length),
          std::to_string(st.consensus.size()), copies, or_dot(st.consensus), std::to_string(st.percent_matches),
          std::to_string(st.percent_indels), std::to_string(st.score), std::to_string(st.composition[0]),
          std::to_string(st.composition[1]), std::to_string(st.composition[2]), std::to_string(st.composition[3]),
          entropy, or_dot(st.canonical_motif)};
}

void RepeatWriter::write_row(const char* name, const std::string& seqid, const std::string& motif, const FoundRepeat& r,
                             const RepeatStatistics& st) {
  const long long start = r.start, end = r.end;
  const std::string called = st.canonical_motif + "x" + one_decimal(st.copies);
  switch (format_) {
    case OutputFormat::kTrfDat:
    case OutputFormat::kTrfNgs:
      break;  // written by write_trf_row
    case OutputFormat::kTsv:
      std::fputs(name, out_);
      for (const std::string& field : tsv_columns(r, st, motif)) {
        std::fputc('\t', out_);
        std::fputs(field.c_str(), out_);
      }
      if (options_.flanks >= 0) {
        std::fprintf(out_, "\t%s\t%s\t%s", held_letters(*record_, r.start, r.end).c_str(),
                     held_letters(*record_, r.start - options_.flanks, r.start).c_str(),
                     held_letters(*record_, r.end, r.end + options_.flanks).c_str());
      }
      if (annotation_ != nullptr) std::fprintf(out_, "\t%s", annotation_->names_overlapping(name, r.start, r.end).c_str());
      std::fputc('\n', out_);
      break;
    case OutputFormat::kBed:
      std::fprintf(out_, "%s\t%lld\t%lld\t%s\t%d\t.\t%d\t%s\t%s\t%s\t%s\n", name, start, end, called.c_str(),
                   bed_score(r, r.definition, options_.match), r.motif_length, r.units_text.c_str(),
                   r.value_text.c_str(), motif.c_str(), or_dot(st.consensus));
      break;
    case OutputFormat::kGff3:
      std::fprintf(out_,
                   "%s\trivulon\ttandem_repeat\t%lld\t%lld\t%s\t.\t.\tID=%s:%lld-%lld:%d;Name=%s;period=%zu;copies=%.1f;"
                   "consensus=%s;percent_matches=%d;percent_indels=%d;consensus_score=%lld;entropy=%.2f",
                   seqid.c_str(), start + 1, end, r.value_text.c_str(), seqid.c_str(), start + 1, end, r.motif_length,
                   called.c_str(), st.consensus.size(),
                   st.copies, or_dot(st.consensus), st.percent_matches, st.percent_indels,
                   static_cast<long long>(st.score), st.entropy);
      if (annotation_ != nullptr) {
        const std::string names = annotation_->names_overlapping(name, r.start, r.end);
        if (names != ".") std::fprintf(out_, ";annotation=%s", gff3_attribute(names).c_str());
      }
      std::fputc('\n', out_);
      break;
  }
}

namespace {

// The letters of [from, to) of the record that are held, or "." when there are none.
std::string held_letters(const FastaRecord& record, int64_t from, int64_t to) {
  from = std::max<int64_t>(from - record.offset, 0);
  to = std::min<int64_t>(to - record.offset, record.length);
  if (from >= to) return ".";
  return std::string(record.bases.get() + from, static_cast<size_t>(to - from));
}

}  // namespace

// One line of TRF's layouts: start end period copies consensus_size
// percent_matches percent_indels score A C G T entropy consensus sequence,
// and for -ngs the 50 letters on each side.
void RepeatWriter::write_trf_row(const FastaRecord& record, const FoundRepeat& r, const RepeatStatistics& st) {
  std::fprintf(out_, "%lld %lld %zu %.1f %zu %d %d %lld %d %d %d %d %.2f %s %s", static_cast<long long>(r.start) + 1,
               static_cast<long long>(r.end), st.consensus.size(), st.copies, st.consensus.size(), st.percent_matches,
               st.percent_indels, static_cast<long long>(st.score), st.composition[0], st.composition[1],
               st.composition[2], st.composition[3], st.entropy, or_dot(st.consensus),
               held_letters(record, r.start, r.end).c_str());
  if (format_ == OutputFormat::kTrfNgs) {
    std::fprintf(out_, " %s %s", held_letters(record, r.start - kFlank, r.start).c_str(),
                 held_letters(record, r.end, r.end + kFlank).c_str());
  }
  std::fputc('\n', out_);
}

void RepeatWriter::write_record(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
                                const std::vector<RepeatStatistics>& statistics) {
  const std::string header = record.name + (record.description.empty() ? "" : " " + record.description);
  if (format_ == OutputFormat::kTrfDat || format_ == OutputFormat::kTrfNgs) {
    if (format_ == OutputFormat::kTrfDat) {
      std::fprintf(out_, "\nSequence: %s\n\n\n\nParameters: %s\n\n\n", header.c_str(), run_parameters(options_).c_str());
    } else if (!repeats.empty()) {
      std::fprintf(out_, "@%s\n", header.c_str());
    }
    for (size_t k = 0; k < repeats.size(); ++k) write_trf_row(record, repeats[k], statistics[k]);
    return;
  }
  const std::string seqid = format_ == OutputFormat::kGff3 ? gff3_seqid(record.name) : "";
  if (format_ == OutputFormat::kGff3 && !repeats.empty() && regions_declared_.insert(record.name).second) {
    std::fprintf(out_, "##sequence-region %s 1 %lld\n", seqid.c_str(), static_cast<long long>(record.record_length));
  }
  record_ = &record;
  for (size_t k = 0; k < repeats.size(); ++k) {
    write_row(record.name.c_str(), seqid, motif_of(record, repeats[k]), repeats[k], statistics[k]);
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
