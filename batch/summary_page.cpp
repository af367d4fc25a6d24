#include "batch/summary_page.h"

#include <algorithm>
#include <array>

#include "batch/formats.h"
#include "batch/page/assets.h"
#include "batch/progress.h"
#include "report/escape.h"

namespace rivulon::batch {

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool SummaryPage::ranks_above(const Rank& a, const Rank& b) {
  if (a.span != b.span) return a.span > b.span;
  if (a.value != b.value) return a.value > b.value;
  return a.order < b.order;
}

bool SummaryPage::listed_before(const RecordLine& a, const RecordLine& b) {
  if (a.repeats != b.repeats) return a.repeats > b.repeats;
  return a.ordinal < b.ordinal;
}

namespace {

// A repeat's period: its consensus's length, or its motif's when it has none.
int32_t period_of(const std::vector<FoundRepeat>& repeats, const std::vector<RepeatStatistics>& statistics, size_t k) {
  return k < statistics.size() && !statistics[k].consensus.empty()
             ? static_cast<int32_t>(statistics[k].consensus.size())
             : std::max(repeats[k].motif_length, 0);
}

}  // namespace

int64_t SummaryPage::count(const std::vector<Spot>& spots) {
  int64_t covered = 0, reach = 0;
  std::array<int64_t, kPeriodClasses.size()> class_reach{};
  for (const Spot& r : spots) {
    if (r.end > reach) {
      covered += r.end - std::max(r.start, reach);
      reach = r.end;
    }
    const size_t c = period_class(r.period);
    ++class_repeats_[c];
    if (r.end > class_reach[c]) {
      class_covered_[c] += r.end - std::max(r.start, class_reach[c]);
      class_reach[c] = r.end;
    }
    const auto length = static_cast<size_t>(r.period);
    if (length >= motif_lengths_.size()) motif_lengths_.resize(length + 1, 0);
    ++motif_lengths_[length];
  }
  return covered;
}

std::shared_ptr<const SummaryPage::RecordLine> SummaryPage::add_record(const std::string& name, int64_t length,
                                                                       const std::vector<Spot>& spots) {
  const int64_t covered = count(spots);
  const auto repeats = static_cast<int64_t>(spots.size());
  auto line = std::make_shared<const RecordLine>(RecordLine{name, records_, length, repeats, covered});
  // The lowest ranked stays first in the heap.
  auto listed_later = [](const std::shared_ptr<const RecordLine>& a, const std::shared_ptr<const RecordLine>& b) {
    return listed_before(*a, *b);
  };
  if (listed_.size() < limits_.records) {
    listed_.push_back(line);
    std::push_heap(listed_.begin(), listed_.end(), listed_later);
  } else if (!listed_.empty() && listed_before(*line, *listed_.front())) {
    std::pop_heap(listed_.begin(), listed_.end(), listed_later);
    listed_.back() = line;
    std::push_heap(listed_.begin(), listed_.end(), listed_later);
  }
  ++records_;
  bases_ += length;
  covered_ += covered;
  return line;
}

template <typename Motif>
void SummaryPage::offer(const std::shared_ptr<const RecordLine>& line, int64_t order, const Spot& spot,
                        int32_t motif_length, double value, const std::string& units, const std::string& value_text,
                        const Motif& motif_of_repeat, const std::string& link_to) {
  if (limits_.rows == 0) return;
  // The lowest ranked stays first in the heap.
  auto ranked_lower = [](const Row& a, const Row& b) { return ranks_above(a.rank, b.rank); };
  const Rank rank{spot.end - spot.start, value, order};
  const bool room = rows_.size() < limits_.rows;
  if (!room && !ranks_above(rank, rows_.front().rank)) return;
  std::string motif = motif_of_repeat();
  if (motif.size() > limits_.motif_letters) {
    motif.resize(limits_.motif_letters);
    motif += "\u2026";
    motifs_cut_ = true;
  }
  int32_t page = -1;
  std::string link;
  if (!link_to.empty()) {
    const size_t hash = std::min(link_to.find('#'), link_to.size());
    link = link_to.substr(hash);
    const auto [at, added] = page_index_.try_emplace(link_to.substr(0, hash), static_cast<int32_t>(pages_.size()));
    if (added) pages_.push_back(at->first);
    page = at->second;
  }
  Row row{rank, line, spot.start + 1, spot.end, motif_length, spot.period, units, value_text, std::move(motif), page,
          std::move(link)};
  if (!room) {
    std::pop_heap(rows_.begin(), rows_.end(), ranked_lower);
    rows_.pop_back();
  }
  rows_.push_back(std::move(row));
  std::push_heap(rows_.begin(), rows_.end(), ranked_lower);
}

void SummaryPage::add(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
                      const std::vector<RepeatStatistics>& statistics, const std::vector<std::string>& links) {
  std::vector<Spot> spots;
  spots.reserve(repeats.size());
  for (size_t k = 0; k < repeats.size(); ++k) spots.push_back({repeats[k].start, repeats[k].end, period_of(repeats, statistics, k)});
  const auto line = add_record(record.name, record.record_length, spots);
  static const std::string kNoLink;
  for (size_t k = 0; k < repeats.size(); ++k) {
    const FoundRepeat& r = repeats[k];
    offer(line, repeats_ + static_cast<int64_t>(k), spots[k], r.motif_length, r.value, r.units_text, r.value_text,
          [&] { return motif_of(record, r); }, k < links.size() ? links[k] : kNoLink);
  }
  repeats_ += static_cast<int64_t>(repeats.size());
}

void SummaryPage::add(const std::string& name, int64_t length, const std::vector<TableRepeat>& repeats) {
  std::vector<Spot> spots;
  spots.reserve(repeats.size());
  for (const TableRepeat& r : repeats) spots.push_back({r.start, r.end, r.period > 0 ? r.period : std::max(r.motif_length, 0)});
  const auto line = add_record(name, length, spots);
  static const std::string kNoLink;
  for (size_t k = 0; k < repeats.size(); ++k) {
    const TableRepeat& r = repeats[k];
    offer(line, repeats_ + static_cast<int64_t>(k), spots[k], r.motif_length, r.value, r.units, r.value_text,
          [&] { return r.motif; }, kNoLink);
  }
  repeats_ += static_cast<int64_t>(repeats.size());
}

namespace {


std::string parameters_text(const BatchOptions& o) {
  static const char* const kDefinitions[] = {
      "", "similarity level between adjacent copies", "average similarity level between adjacent copies",
      "alignment score against a repeating pattern"};
  std::string text = "match " + std::to_string(o.match) + ", mismatch " + std::to_string(o.mismatch) +
                     ", gap " + std::to_string(o.gap) + ", terminal gap " +
                     std::to_string(o.terminal_gap) + ", longest motif " +
                     std::to_string(o.max_motif) + "; definition " + std::to_string(o.definition) +
                     " (" + kDefinitions[o.definition] + "), ";
  text += o.definition == 3 ? "minimum score " + std::to_string(o.min_score)
                            : "minimum similarity level " + std::to_string(o.level);
  if (o.keep_case) text += "; case kept";
  for (const std::string& region : o.regions) text += "; region " + region;
  text += std::string("; ") + (o.overlaps == Overlaps::kBest ? "one call per locus" : "every call");
  char filters[160];
  std::snprintf(filters, sizeof filters, "; at least %g copies, %lld bases, %d%% matches, consensus score %lld",
                o.min_copies, static_cast<long long>(o.min_length), o.min_identity,
                static_cast<long long>(o.min_consensus_score));
  return text + filters;
}

}  // namespace

SummaryPage::Shown SummaryPage::shown() const {
  Shown v;
  // The rows in output order; the records listed or named by a row, in input order.
  std::vector<const Row*>& rows = v.rows;
  rows.reserve(rows_.size());
  for (const Row& r : rows_) rows.push_back(&r);
  std::sort(rows.begin(), rows.end(), [](const Row* a, const Row* b) { return a->rank.order < b->rank.order; });
  std::vector<std::pair<const RecordLine*, bool>> marked;  // a record, and whether it is listed
  for (const auto& line : listed_) marked.emplace_back(line.get(), true);
  for (const Row* r : rows) marked.emplace_back(r->record.get(), false);
  std::sort(marked.begin(), marked.end(), [](const auto& a, const auto& b) {
    return a.first->ordinal != b.first->ordinal ? a.first->ordinal < b.first->ordinal : a.second > b.second;
  });
  std::vector<const RecordLine*>& named = v.named;  // each once, the listed mark first
  std::vector<bool>& is_listed = v.is_listed;
  for (const auto& [line, mark] : marked) {
    if (!named.empty() && named.back() == line) continue;
    named.push_back(line);
    is_listed.push_back(mark);
  }
  v.others = RecordLine{"", 0, bases_, repeats_, covered_};
  RecordLine& others = v.others;
  for (const auto& line : listed_) {
    others.length -= line->length;
    others.repeats -= line->repeats;
    others.covered -= line->covered;
  }
  v.other_records = records_ - static_cast<int64_t>(listed_.size());
  return v;
}


namespace {

// The data row's layout: the name of each field of a row, in order. The page's
// script finds each field by its name in this list.
constexpr const char* kRowFields[] = {"record", "start", "end", "motif_length", "units", "value", "motif", "page",
                                      "link", "period"};

}  // namespace

void SummaryPage::write_header(std::FILE* out) const {
  std::fprintf(out, "<p class=\"params\">%s.</p>\n", html_escape(parameters_text(options_)).c_str());
  // The command line on a line of its own, so that runs differing only in it compare line by line.
  std::fprintf(out, "<p class=\"params\">Written by rivulon-batch %s:\ncommand: <code>%s</code></p>\n", version(),
               html_escape(options_.command).c_str());
  if (!chance_.empty()) std::fprintf(out, "<p class=\"params\">%s.</p>\n", html_escape(chance_).c_str());
  std::fprintf(out, "<p>%lld records, %lld bases; %lld repeats covering %lld bases.</p>\n",
               static_cast<long long>(records_), static_cast<long long>(bases_),
               static_cast<long long>(repeats_), static_cast<long long>(covered_));
}

void SummaryPage::write_notes(std::FILE* out, const std::string& slot, const Shown& v) const {
  const bool rows_cut = static_cast<int64_t>(v.rows.size()) < repeats_;
  if (slot == "RECORDS_NOTE" && v.other_records > 0) {
    std::fprintf(out, "<p class=\"note\" id=\"records-cut\">Listed: the %s records with the most repeats, "
                 "in input order; the last line sums the other %s.</p>\n",
                 with_commas(static_cast<int64_t>(listed_.size())).c_str(), with_commas(v.other_records).c_str());
  } else if (slot == "TRACKS_CUT" && rows_cut) {
    std::fputs(" of the table below", out);
  } else if (slot == "ROWS_NOTE") {
    if (rows_cut) {
      std::fprintf(out, "<p class=\"note\" id=\"rows-cut\">Showing the %s longest of %s repeats (most bases "
                   "spanned, then the higher %s, then the earlier); the run's output holds them all.</p>\n",
                   with_commas(static_cast<int64_t>(v.rows.size())).c_str(), with_commas(repeats_).c_str(),
                   options_.definition == 3 ? "score" : "similarity");
    }
    if (motifs_cut_) {
      std::fprintf(out, "<p class=\"note\" id=\"motifs-cut\">Motifs longer than %zu letters are shown cut "
                   "(\u2026); the run's output holds them whole.</p>\n", limits_.motif_letters);
    }
  }
}

void SummaryPage::write_data(std::FILE* out, const Shown& v) const {
  const std::vector<const RecordLine*>& named = v.named;
  const std::vector<const Row*>& rows = v.rows;
  const RecordLine& others = v.others;
  auto index_of = [&named](const RecordLine* line) {
    return std::lower_bound(named.begin(), named.end(), line,
                            [](const RecordLine* a, const RecordLine* b) { return a->ordinal < b->ordinal; }) -
           named.begin();
  };
  std::fprintf(out, "{\"definition\":%d,\"valueName\":%s,\"repeats\":%lld,\"fields\":[", options_.definition,
               options_.definition == 3 ? "\"score\"" : "\"similarity\"", static_cast<long long>(repeats_));
  for (const char* field : kRowFields) std::fprintf(out, "%s\"%s\"", field == kRowFields[0] ? "" : ",", field);
  std::fputs("],\"pages\":[", out);
  for (size_t i = 0; i < pages_.size(); ++i) std::fprintf(out, "%s%s", i > 0 ? "," : "", json_string(pages_[i]).c_str());
  std::fputs("],\"records\":[", out);
  for (size_t i = 0; i < named.size(); ++i) {
    const RecordLine& r = *named[i];
    std::fprintf(out, "%s{\"name\":%s,\"length\":%lld,\"repeats\":%lld,\"covered\":%lld,\"listed\":%s}",
                 i > 0 ? "," : "", json_string(r.name).c_str(), static_cast<long long>(r.length),
                 static_cast<long long>(r.repeats), static_cast<long long>(r.covered),
                 v.is_listed[i] ? "true" : "false");
  }
  std::fputs("],\"others\":", out);
  if (v.other_records > 0) {
    std::fprintf(out, "{\"records\":%lld,\"length\":%lld,\"repeats\":%lld,\"covered\":%lld}",
                 static_cast<long long>(v.other_records), static_cast<long long>(others.length),
                 static_cast<long long>(others.repeats), static_cast<long long>(others.covered));
  } else {
    std::fputs("null", out);
  }
  std::fputs(",\"classes\":[", out);
  for (size_t c = 0; c < kPeriodClasses.size(); ++c) {
    std::fprintf(out, "%s{\"low\":%d,\"high\":%d,\"repeats\":%lld,\"covered\":%lld}", c > 0 ? "," : "",
                 kPeriodClasses[c].low, kPeriodClasses[c].high, static_cast<long long>(class_repeats_[c]),
                 static_cast<long long>(class_covered_[c]));
  }
  std::fputs("],\"lengths\":[", out);
  bool first = true;
  for (size_t length = 0; length < motif_lengths_.size(); ++length) {
    if (motif_lengths_[length] == 0) continue;
    std::fprintf(out, "%s[%zu,%lld]", first ? "" : ",", length, static_cast<long long>(motif_lengths_[length]));
    first = false;
  }
  std::fputs("],\"rows\":[\n", out);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = *rows[i];
    // In the order of kRowFields.
    std::fprintf(out, "%s[%lld,%lld,%lld,%d,%s,%s,%s,%d,%s,%d]", i > 0 ? ",\n" : "",
                 static_cast<long long>(index_of(r.record.get())), static_cast<long long>(r.start),
                 static_cast<long long>(r.end), r.motif_length, json_string(r.units).c_str(),
                 json_string(r.value).c_str(), json_string(r.motif).c_str(), r.page, json_string(r.link).c_str(),
                 r.period);
  }
  std::fputs("]}", out);
}

void SummaryPage::write(std::FILE* out) const {
  const Shown v = shown();
  const std::string input = html_escape(options_.input == "-" ? "standard input" : options_.input);
  // The template's text, each @SLOT@ in it filled in.
  const std::string_view page = page::summary_html();
  size_t at = 0;
  while (at < page.size()) {
    const size_t open = page.find('@', at);
    const size_t close = open == std::string_view::npos ? open : page.find('@', open + 1);
    if (close == std::string_view::npos) {
      std::fwrite(page.data() + at, 1, page.size() - at, out);
      break;
    }
    std::fwrite(page.data() + at, 1, open - at, out);
    const std::string slot(page.substr(open + 1, close - open - 1));
    if (slot == "INPUT") std::fputs(input.c_str(), out);
    else if (slot == "STYLE") std::fwrite(page::summary_css().data(), 1, page::summary_css().size(), out);
    else if (slot == "SCRIPT") std::fwrite(page::summary_js().data(), 1, page::summary_js().size(), out);
    else if (slot == "HEADER") write_header(out);
    else if (slot == "VALUE_NAME") std::fputs(options_.definition == 3 ? "Score" : "Similarity", out);
    else if (slot == "DATA") write_data(out, v);
    else write_notes(out, slot, v);
    at = close + 1;
  }
}

}  // namespace rivulon::batch
