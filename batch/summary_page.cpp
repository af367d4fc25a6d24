#include "batch/summary_page.h"

#include <algorithm>

#include "batch/formats.h"
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

void SummaryPage::add(const FastaRecord& record, const std::vector<FoundRepeat>& repeats,
                      const std::vector<std::string>& links) {
  int64_t covered = 0, reach = 0;  // repeats come by start
  for (const FoundRepeat& r : repeats) {
    if (r.end > reach) {
      covered += r.end - std::max(r.start, reach);
      reach = r.end;
    }
    const size_t length = static_cast<size_t>(std::max(r.motif_length, 0));
    if (length >= motif_lengths_.size()) motif_lengths_.resize(length + 1, 0);
    ++motif_lengths_[length];
  }
  const int64_t count = static_cast<int64_t>(repeats.size());
  auto line = std::make_shared<const RecordLine>(
      RecordLine{record.name, records_, record.record_length, count, covered});

  // The lowest ranked stays first in both heaps.
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

  auto ranked_lower = [](const Row& a, const Row& b) { return ranks_above(a.rank, b.rank); };
  for (size_t k = 0; k < repeats.size() && limits_.rows > 0; ++k) {
    const FoundRepeat& r = repeats[k];
    const Rank rank{r.end - r.start, r.value, repeats_ + static_cast<int64_t>(k)};
    const bool room = rows_.size() < limits_.rows;
    if (!room && !ranks_above(rank, rows_.front().rank)) continue;
    std::string motif = motif_of(record, r);
    if (motif.size() > limits_.motif_letters) {
      motif.resize(limits_.motif_letters);
      motif += "\u2026";
      motifs_cut_ = true;
    }
    Row row{rank, line, r.start + 1, r.end, r.motif_length, r.units_text.c_str(), r.value_text.c_str(),
            std::move(motif), k < links.size() ? links[k] : std::string()};
    if (!room) {
      std::pop_heap(rows_.begin(), rows_.end(), ranked_lower);
      rows_.pop_back();
    }
    rows_.push_back(std::move(row));
    std::push_heap(rows_.begin(), rows_.end(), ranked_lower);
  }

  ++records_;
  bases_ += record.record_length;
  repeats_ += count;
  covered_ += covered;
}

namespace {

const char* const kStyle = R"CSS(
:root { --ink: #1b1b1b; --muted: #4a4a4a; --line: #c8ced6; --head: #e9eef4; --accent: #0b5394;
        --mark: #b3261e; --bar: #1f6f8b; }
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, sans-serif; color: var(--ink); background: #fff; margin: 0 auto;
       max-width: 1100px; padding: 1rem 1.5rem 3rem; }
h1 { font-size: 1.5rem; margin: .5rem 0; } h2 { font-size: 1.2rem; margin: 1.8rem 0 .6rem; }
code, .motif { font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
a { color: var(--accent); }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid var(--line); padding: .3rem .5rem; text-align: left; }
th { background: var(--head); }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
th button { font: inherit; font-weight: bold; color: var(--ink); background: none; border: 0;
            padding: 0; cursor: pointer; }
th button:focus-visible, button:focus-visible, select:focus-visible, input:focus-visible {
  outline: 2px solid var(--accent); outline-offset: 2px; }
th[aria-sort="ascending"] button::after { content: " \25B2"; }
th[aria-sort="descending"] button::after { content: " \25BC"; }
.motif { max-width: 22rem; overflow-wrap: anywhere; }
.params { color: var(--muted); }
.controls { display: flex; flex-wrap: wrap; gap: .8rem 1.2rem; align-items: end; margin: .5rem 0; }
.controls label { display: flex; flex-direction: column; font-size: .9rem; color: var(--muted); }
.controls input { width: 6rem; } .controls select, .controls input, .pager button {
  font: inherit; color: var(--ink); padding: .2rem .4rem; border: 1px solid #767676;
  border-radius: 3px; background: #fff; }
.pager { display: flex; gap: .8rem; align-items: center; margin: .6rem 0; }
.track { margin: .2rem 0 1rem; } .track h3 { font-size: 1rem; margin: .3rem 0; }
svg { display: block; width: 100%; height: auto; overflow: visible; }
svg text { font: 11px system-ui, sans-serif; fill: var(--muted); }
svg .axis { stroke: #767676; stroke-width: 1; }
svg .repeats { fill: var(--mark); }
svg .bar { fill: var(--bar); } svg .bar:hover { fill: var(--mark); }
#tip { position: fixed; pointer-events: none; background: #1b1b1b; color: #fff; padding: .3rem .5rem;
       border-radius: 3px; font-size: .85rem; display: none; max-width: 28rem; z-index: 2; }
.note { color: var(--muted); font-size: .9rem; }
)CSS";

const char* const kScript = R"JS(
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const rows = data.rows;  // [record, start, end, motif length, units, value, motif, link]
const R = 0, START = 1, END = 2, LEN = 3, UNITS = 4, VALUE = 5, MOTIF = 6, LINK = 7;
const SVG = "http://www.w3.org/2000/svg";
const tip = document.getElementById("tip");
const fmt = new Intl.NumberFormat("en-US");

function el(name, attrs, text) {
  const e = name.startsWith("svg:") ? document.createElementNS(SVG, name.slice(4)) : document.createElement(name);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}
function describe(r) {
  return data.records[r[R]].name + ":" + fmt.format(r[START]) + "\u2013" + fmt.format(r[END]) +
         "  motif length " + r[LEN] + ", " + r[UNITS] + " copies, " + data.valueName + " " + r[VALUE] +
         (r[MOTIF].length <= 60 ? ", motif " + r[MOTIF] : "");
}
function showTip(event, text) {
  tip.textContent = text;
  tip.style.display = "block";
  const x = Math.min(event.clientX + 14, window.innerWidth - tip.offsetWidth - 8);
  tip.style.left = Math.max(4, x) + "px";
  tip.style.top = (event.clientY + 16) + "px";
}
function hideTip() { tip.style.display = "none"; }

// Records: counts and bases covered; the records not listed summed in one line.
(function records() {
  const line = (name, rec) => {
    const tr = el("tr");
    tr.append(el("td", {}, name), el("td", {class: "num"}, fmt.format(rec.length)),
              el("td", {class: "num"}, fmt.format(rec.repeats)), el("td", {class: "num"}, fmt.format(rec.covered)),
              el("td", {class: "num"}, rec.length > 0 ? (100 * rec.covered / rec.length).toFixed(2) + "%" : "-"));
    return tr;
  };
  const body = document.querySelector("#records tbody");
  data.records.forEach((rec) => { if (rec.listed) body.append(line(rec.name, rec)); });
  if (data.others) {
    document.querySelector("#records tfoot").append(line(fmt.format(data.others.records) + " other records", data.others));
  }
})();

// Tracks: each repeat at its place along the record (x) and its motif length
// (y, logarithmic), drawn as one path; hovering finds the nearest repeat.
(function tracks() {
  const holder = document.getElementById("track-list");
  const maxTracks = 50, W = 960, H = 110, left = 40, top = 6;
  const maxLen = rows.reduce((m, r) => Math.max(m, r[LEN]), 2);
  const yOf = (L) => top + H - H * Math.log(L) / Math.log(maxLen);
  const byRecord = new Map();
  rows.forEach((r, i) => { if (!byRecord.has(r[R])) byRecord.set(r[R], []); byRecord.get(r[R]).push(i); });
  let shown = 0;
  for (const [rec, list] of byRecord) {
    if (shown++ === maxTracks) {
      holder.append(el("p", {class: "note"}, (byRecord.size - maxTracks) +
        " more records have repeats; the table below lists them (filter by record)."));
      break;
    }
    const record = data.records[rec];
    const scale = (W - left - 10) / Math.max(1, record.length);
    const div = el("div", {class: "track"});
    div.append(el("h3", {}, record.name + " (" + fmt.format(record.length) + " bases, " + fmt.format(record.repeats) + " repeats" +
                            (list.length < record.repeats ? ", " + fmt.format(list.length) + " of them in the table" : "") + ")"));
    const svg = el("svg:svg", {viewBox: "0 0 " + W + " " + (H + top + 24), role: "img",
                               "aria-label": "Repeats along " + record.name + " by motif length"});
    svg.append(el("svg:line", {class: "axis", x1: left, y1: top + H, x2: W - 10, y2: top + H}));
    svg.append(el("svg:line", {class: "axis", x1: left, y1: top, x2: left, y2: top + H}));
    for (const L of [1, 10, 100, 500].filter((v) => v <= maxLen)) {
      svg.append(el("svg:text", {x: left - 6, y: yOf(L) + 4, "text-anchor": "end"}, String(L)));
    }
    for (let k = 0; k <= 4; ++k) {
      const pos = Math.round(record.length * k / 4);
      svg.append(el("svg:text", {x: left + pos * scale, y: top + H + 16, "text-anchor": k === 0 ? "start" : k === 4 ? "end" : "middle"}, fmt.format(pos)));
    }
    let d = "";
    for (const i of list) {
      const r = rows[i];
      const x = left + (r[START] - 1) * scale, w = Math.max(1.5, (r[END] - r[START] + 1) * scale);
      d += "M" + x.toFixed(2) + " " + (yOf(r[LEN]) - 1.5).toFixed(2) + "h" + w.toFixed(2) + "v3h" + (-w).toFixed(2) + "z";
    }
    svg.append(el("svg:path", {class: "repeats", d: d}));
    svg.addEventListener("mousemove", (event) => {
      const box = svg.getBoundingClientRect();
      const px = (event.clientX - box.left) * W / box.width, py = (event.clientY - box.top) * W / box.width;
      const pos = (px - left) / scale, tolerance = 4 / scale;
      let best = -1, bestDistance = Infinity;
      for (const i of list) {  // by start: stop once the starts pass the pointer
        const r = rows[i];
        if (r[START] - 1 > pos + tolerance) break;
        if (r[END] < pos - tolerance) continue;
        const distance = Math.abs(yOf(r[LEN]) - py);
        if (distance < bestDistance) { bestDistance = distance; best = i; }
      }
      if (best >= 0 && bestDistance < 12) showTip(event, describe(rows[best])); else hideTip();
    });
    svg.addEventListener("mouseleave", hideTip);
    div.append(svg);
    holder.append(div);
  }
  if (byRecord.size === 0) holder.append(el("p", {class: "note"}, "No repeats were found."));
})();

// Histogram of motif lengths, of every repeat.
(function histogram() {
  const counts = new Map(data.lengths);
  const maxLen = Math.max(10, ...counts.keys()), maxCount = Math.max(1, ...counts.values());
  const W = 960, H = 160, left = 48, top = 8, step = (W - left - 10) / maxLen;
  const svg = document.getElementById("hist");
  svg.setAttribute("viewBox", "0 0 " + W + " " + (H + top + 24));
  svg.append(el("svg:line", {class: "axis", x1: left, y1: top + H, x2: W - 10, y2: top + H}));
  svg.append(el("svg:text", {x: left - 6, y: top + 8, "text-anchor": "end"}, fmt.format(maxCount)));
  svg.append(el("svg:text", {x: left - 6, y: top + H, "text-anchor": "end"}, "0"));
  for (const L of [1, Math.round(maxLen / 4), Math.round(maxLen / 2), Math.round(3 * maxLen / 4), maxLen]) {
    svg.append(el("svg:text", {x: left + (L - 0.5) * step, y: top + H + 16, "text-anchor": "middle"}, String(L)));
  }
  for (const [L, n] of counts) {
    const h = Math.max(1, H * n / maxCount);
    const bar = el("svg:rect", {class: "bar", x: left + (L - 1) * step, y: top + H - h,
                                width: Math.max(1, step - 0.5), height: h});
    bar.append(el("svg:title", {}, "motif length " + L + ": " + fmt.format(n) + " repeats"));
    svg.append(bar);
  }
})();

// The table: filtered, sorted and paged, 100 rows a page.
const table = (function () {
  const pageSize = 100;
  const state = {sort: null, descending: false, page: 0, view: rows.map((_, i) => i)};
  const body = document.querySelector("#repeat-table tbody");
  // A list of the records with rows to choose from, or, when they are too
  // many for a list, a field matching part of their names.
  const withRows = [...new Set(rows.map((r) => r[R]))];
  const byName = withRows.length > 1000;
  let recordFilter = document.getElementById("filter-record");
  if (byName) {
    const field = el("input", {id: "filter-record", type: "search", placeholder: "part of a name"});
    recordFilter.replaceWith(field);
    recordFilter = field;
    field.parentElement.firstChild.textContent = "Record name containing";
  } else {
    withRows.forEach((i) => recordFilter.append(el("option", {value: String(i)}, data.records[i].name)));
  }
  const minFilter = document.getElementById("filter-min"), maxFilter = document.getElementById("filter-max");
  const status = document.getElementById("showing");
  const hasLinks = rows.some((r) => r[LINK] !== "");
  if (!hasLinks) document.querySelectorAll(".link-column").forEach((e) => e.remove());
  const keyOf = {record: (r) => r[R], start: (r) => r[START], end: (r) => r[END], length: (r) => r[LEN],
                 units: (r) => parseFloat(r[UNITS]), value: (r) => parseFloat(r[VALUE]), motif: (r) => r[MOTIF]};

  function render() {
    body.textContent = "";
    const first = state.page * pageSize, last = Math.min(state.view.length, first + pageSize);
    for (let k = first; k < last; ++k) {
      const r = rows[state.view[k]];
      const tr = el("tr");
      tr.append(el("td", {}, data.records[r[R]].name), el("td", {class: "num"}, String(r[START])),
                el("td", {class: "num"}, String(r[END])), el("td", {class: "num"}, String(r[LEN])),
                el("td", {class: "num"}, r[UNITS]), el("td", {class: "num"}, r[VALUE]),
                el("td", {class: "motif"}, r[MOTIF]));
      if (hasLinks) {
        const td = el("td");
        if (r[LINK] !== "") td.append(el("a", {href: r[LINK]}, "alignment"));
        tr.append(td);
      }
      body.append(tr);
    }
    status.textContent = state.view.length === 0 ? "No repeats match." :
      "Repeats " + fmt.format(first + 1) + "\u2013" + fmt.format(last) + " of " + fmt.format(state.view.length) +
      (state.view.length < rows.length ? " (filtered from " + fmt.format(rows.length) + ")" : "");
    document.getElementById("previous").disabled = state.page === 0;
    document.getElementById("next").disabled = last >= state.view.length;
  }
  function update() {
    const record = recordFilter.value, low = parseInt(minFilter.value, 10), high = parseInt(maxFilter.value, 10);
    state.view = [];
    rows.forEach((r, i) => {
      if (record !== "" && (byName ? !data.records[r[R]].name.includes(record) : r[R] !== Number(record))) return;
      if (!Number.isNaN(low) && r[LEN] < low) return;
      if (!Number.isNaN(high) && r[LEN] > high) return;
      state.view.push(i);
    });
    if (state.sort) {
      const key = keyOf[state.sort], sign = state.descending ? -1 : 1;
      state.view.sort((a, b) => {
        const x = key(rows[a]), y = key(rows[b]);
        return x < y ? -sign : x > y ? sign : a - b;  // ties keep the output order
      });
    }
    state.page = 0;
    render();
  }
  document.querySelectorAll("#repeat-table th[data-key]").forEach((th) => {
    th.querySelector("button").addEventListener("click", () => {
      const key = th.dataset.key;
      state.descending = state.sort === key ? !state.descending : false;
      state.sort = key;
      document.querySelectorAll("#repeat-table th[data-key]").forEach((o) => o.removeAttribute("aria-sort"));
      th.setAttribute("aria-sort", state.descending ? "descending" : "ascending");
      update();
    });
  });
  for (const control of [recordFilter, minFilter, maxFilter]) {
    control.addEventListener("input", update);
    control.addEventListener("change", update);
  }
  document.getElementById("previous").addEventListener("click", () => { state.page--; render(); });
  document.getElementById("next").addEventListener("click", () => { state.page++; render(); });
  update();
  return state;
})();
document.body.dataset.ready = "yes";
)JS";

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


void SummaryPage::write_sections(std::FILE* out, const Shown& v) const {
  const std::string input = options_.input == "-" ? "standard input" : options_.input;
  const std::vector<const Row*>& rows = v.rows;
  const size_t listed = listed_.size();
  const int64_t other_records = v.other_records;
  std::fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n", out);
  std::fprintf(out, "<title>Tandem repeats: %s</title>\n<style>%s</style>\n</head>\n<body>\n",
               html_escape(input).c_str(), kStyle);
  std::fprintf(out, "<h1>Tandem repeats in <code>%s</code></h1>\n", html_escape(input).c_str());
  std::fprintf(out, "<p class=\"params\">%s.</p>\n", html_escape(parameters_text(options_)).c_str());
  // The command line on a line of its own, so that runs differing only in it compare line by line.
  std::fprintf(out, "<p class=\"params\">Written by rivulon-batch %s:\ncommand: <code>%s</code></p>\n", version(),
               html_escape(options_.command).c_str());
  if (!chance_.empty()) std::fprintf(out, "<p class=\"params\">%s.</p>\n", html_escape(chance_).c_str());
  std::fprintf(out, "<p>%lld records, %lld bases; %lld repeats covering %lld bases.</p>\n",
               static_cast<long long>(records_), static_cast<long long>(bases_),
               static_cast<long long>(repeats_), static_cast<long long>(covered_));
  std::fputs("<section id=\"records\"><h2>Records</h2>\n", out);
  if (other_records > 0) {
    std::fprintf(out, "<p class=\"note\" id=\"records-cut\">Listed: the %s records with the most repeats, "
                 "in input order; the last line sums the other %s.</p>\n",
                 with_commas(static_cast<int64_t>(listed)).c_str(), with_commas(other_records).c_str());
  }
  std::fputs("<table><thead><tr><th>Record</th>"
             "<th class=\"num\">Bases</th><th class=\"num\">Repeats</th>"
             "<th class=\"num\">Bases covered</th><th class=\"num\">Covered</th></tr></thead>"
             "<tbody></tbody><tfoot></tfoot></table></section>\n", out);
  const bool rows_cut = static_cast<int64_t>(rows.size()) < repeats_;
  std::fprintf(out, "<section id=\"tracks\"><h2>Where the repeats lie</h2>\n<p class=\"note\">Each mark "
               "is a repeat%s: its place along the record, and its motif length (logarithmic "
               "scale). Point at a mark for its details.</p>\n<div id=\"track-list\"></div></section>\n",
               rows_cut ? " of the table below" : "");
  std::fputs("<section id=\"histogram\"><h2>Motif lengths</h2>\n<svg id=\"hist\" role=\"img\" "
             "aria-label=\"Number of repeats by motif length\"></svg></section>\n", out);
  write_repeat_table(out, rows_cut, rows.size());
}

void SummaryPage::write_repeat_table(std::FILE* out, bool rows_cut, size_t rows_shown) const {
  std::fputs("<section id=\"repeats\"><h2>Repeats</h2>\n", out);
  if (rows_cut) {
    std::fprintf(out, "<p class=\"note\" id=\"rows-cut\">Showing the %s longest of %s repeats (most bases "
                 "spanned, then the higher %s, then the earlier); the run's output holds them all.</p>\n",
                 with_commas(static_cast<int64_t>(rows_shown)).c_str(), with_commas(repeats_).c_str(),
                 options_.definition == 3 ? "score" : "similarity");
  }
  if (motifs_cut_) {
    std::fprintf(out, "<p class=\"note\" id=\"motifs-cut\">Motifs longer than %zu letters are shown cut "
                 "(\u2026); the run's output holds them whole.</p>\n", limits_.motif_letters);
  }
  std::fprintf(out, "<div class=\"controls\">"
               "<label>Record<select id=\"filter-record\"><option value=\"\">all records</option>"
               "</select></label><label>Motif length from<input id=\"filter-min\" type=\"number\" "
               "min=\"1\" max=\"500\"></label><label>to<input id=\"filter-max\" type=\"number\" "
               "min=\"1\" max=\"500\"></label></div>\n"
               "<p id=\"showing\" aria-live=\"polite\"></p>\n"
               "<table id=\"repeat-table\"><thead><tr>"
               "<th data-key=\"record\"><button type=\"button\">Record</button></th>"
               "<th data-key=\"start\" class=\"num\"><button type=\"button\">Start</button></th>"
               "<th data-key=\"end\" class=\"num\"><button type=\"button\">End</button></th>"
               "<th data-key=\"length\" class=\"num\"><button type=\"button\">Motif length</button></th>"
               "<th data-key=\"units\" class=\"num\"><button type=\"button\">Copies</button></th>"
               "<th data-key=\"value\" class=\"num\"><button type=\"button\">%s</button></th>"
               "<th data-key=\"motif\"><button type=\"button\">Motif</button></th>"
               "<th class=\"link-column\">Alignment</th></tr></thead><tbody></tbody></table>\n"
               "<div class=\"pager\"><button type=\"button\" id=\"previous\">Previous 100</button>"
               "<button type=\"button\" id=\"next\">Next 100</button></div>\n"
               "<p class=\"note\">Start and end are 1-based and inclusive.</p></section>\n"
               "<div id=\"tip\" role=\"tooltip\"></div>\n",
               options_.definition == 3 ? "Score" : "Similarity");

}

void SummaryPage::write_data(std::FILE* out, const Shown& v) const {
  const std::vector<const RecordLine*>& named = v.named;
  const std::vector<const Row*>& rows = v.rows;
  const RecordLine& others = v.others;
  const int64_t other_records = v.other_records;
  auto index_of = [&named](const RecordLine* line) {
    return std::lower_bound(named.begin(), named.end(), line,
                            [](const RecordLine* a, const RecordLine* b) { return a->ordinal < b->ordinal; }) -
           named.begin();
  };
  std::fprintf(out, "<script id=\"data\" type=\"application/json\">{\"definition\":%d,"
               "\"valueName\":%s,\"repeats\":%lld,\"records\":[",
               options_.definition, options_.definition == 3 ? "\"score\"" : "\"similarity\"",
               static_cast<long long>(repeats_));
  for (size_t i = 0; i < named.size(); ++i) {
    const RecordLine& r = *named[i];
    std::fprintf(out, "%s{\"name\":%s,\"length\":%lld,\"repeats\":%lld,\"covered\":%lld,\"listed\":%s}",
                 i > 0 ? "," : "", json_string(r.name).c_str(), static_cast<long long>(r.length),
                 static_cast<long long>(r.repeats), static_cast<long long>(r.covered),
                 v.is_listed[i] ? "true" : "false");
  }
  std::fputs("],\"others\":", out);
  if (other_records > 0) {
    std::fprintf(out, "{\"records\":%lld,\"length\":%lld,\"repeats\":%lld,\"covered\":%lld}",
                 static_cast<long long>(other_records), static_cast<long long>(others.length),
                 static_cast<long long>(others.repeats), static_cast<long long>(others.covered));
  } else {
    std::fputs("null", out);
  }
  std::fputs(",\"lengths\":[", out);
  bool first = true;
  for (size_t length = 0; length < motif_lengths_.size(); ++length) {
    if (motif_lengths_[length] == 0) continue;
    std::fprintf(out, "%s[%zu,%lld]", first ? "" : ",", length, static_cast<long long>(motif_lengths_[length]));
    first = false;
  }
  std::fputs("],\"rows\":[\n", out);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = *rows[i];
    std::fprintf(out, "%s[%lld,%lld,%lld,%d,%s,%s,%s,%s]", i > 0 ? ",\n" : "",
                 static_cast<long long>(index_of(r.record.get())), static_cast<long long>(r.start),
                 static_cast<long long>(r.end), r.motif_length, json_string(r.units).c_str(),
                 json_string(r.value).c_str(), json_string(r.motif).c_str(), json_string(r.link).c_str());
  }
  std::fprintf(out, "]}</script>\n<script>%s</script>\n</body>\n</html>\n", kScript);
}

void SummaryPage::write(std::FILE* out) const {
  const Shown v = shown();
  write_sections(out, v);
  write_data(out, v);
}

}  // namespace rivulon::batch
