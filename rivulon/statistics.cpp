// What a biologist reads off a repeat: its consensus, how well its copies
// agree, its score against the consensus, composition and canonical motif.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "align/copy_alignment.h"
#include "align/pattern_alignment.h"
#include "rivulon/adjacent_copies.h"
#include "rivulon/executor.h"
#include "rivulon/rivulon.h"

namespace rivulon {

namespace {

constexpr char kGap = '-';
constexpr int kConsensusRounds = 4;
constexpr int32_t kLongestDivision = 50;   // motifs tried down to 1/50 of the found one
constexpr double kShorterMotifShare = 0.95;  // of the found motif's score
constexpr int32_t kPiecesTried = 3;          // of the found motif, as the shorter one's first guess
constexpr double kPieceShareRefined = 0.5;   // of the found motif's score, before refining
constexpr int64_t kLeastWindowGrowth = 50;   // bases a locus is looked for beyond its call, at least
constexpr int kLocusRounds = 3;  // layouts of one locus with its consensus
constexpr int kWindowRounds = 12;            // the window doubles at most this often
constexpr double kLeastAdjacentCopies = 1.8;  // the adjacent-copy search: fewest copies of a call
constexpr size_t kNotGiven = std::numeric_limits<size_t>::max();  // Call::source of a call no repeat gave

int base_index(char c) {
  switch (c) {
    case 'A': case 'a': return 0;
    case 'C': case 'c': return 1;
    case 'G': case 'g': return 2;
    case 'T': case 't': return 3;
    default: return -1;
  }
}

// The array laid out on the consensus's columns: for each copy (a pass
// through the consensus) the letter or gap at every column it covers, and the
// bases inserted before each column.
struct Layout {
  int32_t L = 0;
  std::vector<std::string> copies;             // a column not covered holds '\0'
  std::vector<std::vector<int32_t>> inserted;  // bases inserted before each column
  std::vector<std::array<int32_t, 5>> votes;   // per column: A, C, G, T, gap
  std::vector<std::array<int32_t, 5>> before;  // per column: copies with an insertion before it
                                               // (by its first base: A, C, G, T, other), and
  std::vector<int32_t> covering;               // copies that cover the column
  double score = 0;                            // best local score
  int64_t first = 0, last = 0;                 // the aligned bases: array[first, last)
  int32_t first_column = 0;                    // the consensus column the first of them is aligned to
  int64_t pattern_columns = 0;                 // consensus columns the alignment passes (matches,
                                               // mismatches and deletions)
  int64_t matches = 0, columns = 0;            // against the consensus itself
};

// True when the pattern and the array fit the kernels' 32-bit positions.
bool alignable(const std::string& array, const std::string& pattern) {
  return array.size() + pattern.size() < static_cast<size_t>(std::numeric_limits<int32_t>::max());
}

// The best local score of `array` against `pattern` repeated, without the alignment.

double score_only(const std::string& array, const std::string& pattern, const Scoring& scoring) {
  if (!alignable(array, pattern)) return 0;
  const auto L = static_cast<int32_t>(pattern.size());
  const std::string text = pattern + array;
  const SequenceView seq{text.c_str(), static_cast<int32_t>(text.size())};
  PatternWorkspace ws(L);
  return score_against_pattern(seq, L - 1, static_cast<int32_t>(array.size()), pattern.data(), L, scoring, 1, ws).score;
}

// The best local alignment of an array against a pattern repeated.
struct Traced {
  double score = 0;
  std::vector<int32_t> moves;  // its traceback, last move first; none when nothing aligns
  int64_t first = 0, last = 0;  // the aligned bases: array[first, last)
  int32_t first_column = 0;     // the pattern column the first of them stands against
};

// Aligns `array` against `pattern` repeated (the pattern alignment the
// detectors use: local, wrapping from the last column to the first). Nothing
// aligns for a repeat of some 2^31 bases, which is described without one.
Traced trace(const std::string& array, const std::string& pattern, const Scoring& scoring) {
  Traced out;
  if (pattern.empty() || !alignable(array, pattern)) return out;
  const auto L = static_cast<int32_t>(pattern.size());
  const auto H = static_cast<int32_t>(array.size());
  // The pattern, then the array, then the NUL the kernels read after it.
  const std::string text = pattern + array;
  const SequenceView seq{text.c_str(), static_cast<int32_t>(text.size())};
  PatternWorkspace ws(L);
  const PatternScore best = score_against_pattern(seq, L - 1, H, pattern.data(), L, scoring, 1, ws);
  out.score = best.score;
  if (best.last_row == 0) return out;
  // Only the rows the best alignment passes are aligned again, from a row of
  // zeros where its traceback stops: no cell is higher there than in the
  // whole alignment, and those of its path are as high, so the same best cell
  // wins, by the same moves.
  // The traceback stopped at column f (0..L): the first column taken is f + 1, after L column 1.
  const PatternRegion aligned{L - 1 + int64_t{best.first_row}, -1, best.last_row - best.first_row, L};
  out.first_column = align_to_pattern(seq, aligned, scoring, 1, ws, out.moves) % L;
  int64_t rows = 0;
  for (int32_t m : out.moves) rows += m != kMoveLeft ? 1 : 0;
  out.last = best.last_row;
  out.first = best.last_row - rows;
  return out;
}

// `array` laid out on the columns of `pattern` repeated.
Layout lay_out(const std::string& array, const std::string& pattern, const Scoring& scoring) {
  Layout out;
  const int32_t L = out.L = static_cast<int32_t>(pattern.size());
  out.votes.assign(static_cast<size_t>(L), {0, 0, 0, 0, 0});
  out.before.assign(static_cast<size_t>(L), {0, 0, 0, 0, 0});
  out.covering.assign(static_cast<size_t>(L), 0);
  const Traced traced = trace(array, pattern, scoring);
  out.score = traced.score;
  if (traced.moves.empty()) return out;
  const std::vector<int32_t>& moves = traced.moves;
  int32_t col = traced.first_column;
  int64_t row = traced.first;  // index in `array` of the next aligned base
  out.first = traced.first;
  out.last = traced.last;
  out.first_column = col;
  auto new_copy = [&] {
    out.copies.emplace_back(static_cast<size_t>(L), '\0');
    out.inserted.emplace_back(static_cast<size_t>(L), 0);
  };
  new_copy();
  for (auto e = moves.rbegin(); e != moves.rend(); ++e) {
    const auto c = static_cast<size_t>(col);
    if (*e == kMoveUp) {
      const char letter = array[static_cast<size_t>(row++)];
      if (out.inserted.back()[c]++ == 0) {
        const int k = base_index(letter);
        ++out.before[c][static_cast<size_t>(k < 0 ? 4 : k)];
      }
      ++out.columns;
      continue;
    }
    const char letter = *e == kMoveLeft ? kGap : array[static_cast<size_t>(row++)];
    ++out.pattern_columns;
    out.copies.back()[c] = letter;
    ++out.covering[c];
    const int k = base_index(letter);
    if (k >= 0 || letter == kGap) ++out.votes[c][static_cast<size_t>(k < 0 ? 4 : k)];
    out.matches += letter == pattern[c] ? 1 : 0;
    ++out.columns;
    if (++col == L) {
      col = 0;
      if (e + 1 != moves.rend()) new_copy();
    }
  }
  return out;
}

// The consensus the copies vote for: at each column the letter most of them
// hold (a tie keeps the pattern's; a column most of them skip is dropped),
// and before it the base most of them insert, when most of them insert one.
std::string majority(const Layout& layout, const std::string& pattern) {
  std::string consensus;
  for (size_t c = 0; c < pattern.size(); ++c) {
    const auto& in = layout.before[c];
    const int32_t inserting = in[0] + in[1] + in[2] + in[3] + in[4];
    if (2 * inserting > layout.covering[c]) {
      const size_t best = static_cast<size_t>(std::max_element(in.begin(), in.begin() + 4) - in.begin());
      if (in[best] > 0) consensus += "ACGT"[best];
    }
    const auto& v = layout.votes[c];
    const int kept = base_index(pattern[c]);
    int best = kept;
    for (int k = 0; k < 4; ++k) {
      if (v[static_cast<size_t>(k)] > (best < 0 ? 0 : v[static_cast<size_t>(best)])) best = k;
    }
    const int32_t letters = v[0] + v[1] + v[2] + v[3];
    if (v[4] > letters) continue;  // most copies skip it
    consensus += best >= 0 ? "ACGT"[best] : pattern[c];
  }
  return consensus.empty() ? pattern : consensus;
}

// The copies' majority, aligned again until it no longer changes (a few
// rounds; a round that lowers the score is not taken). `pattern` becomes the
// consensus; returns its layout.
Layout refine(const std::string& array, std::string& pattern, const Scoring& scoring) {
  Layout layout = lay_out(array, pattern, scoring);
  for (int round = 0; round < kConsensusRounds; ++round) {
    std::string consensus = majority(layout, pattern);
    if (consensus == pattern) break;
    Layout again = lay_out(array, consensus, scoring);
    if (again.score < layout.score) break;
    pattern = std::move(consensus);
    layout = std::move(again);
  }
  return layout;
}

// Adjacent copies compared column by column through their alignment to the
// consensus: equal letters match, a letter against a gap and every inserted
// base are indels. Whole percents of all compared positions; with one copy
// the copy is compared with the consensus.
void compare_copies(const Layout& layout, RepeatStatistics& s) {
  int64_t matches = 0, indels = 0, total = 0;
  for (size_t k = 0; k + 1 < layout.copies.size(); ++k) {
    const std::string &a = layout.copies[k], &b = layout.copies[k + 1];
    for (size_t c = 0; c < a.size(); ++c) {
      if (a[c] == '\0' || b[c] == '\0') continue;
      const int64_t inserted = layout.inserted[k][c] + layout.inserted[k + 1][c];
      indels += inserted;
      total += inserted;
      if (a[c] == kGap && b[c] == kGap) continue;
      ++total;
      if (a[c] == kGap || b[c] == kGap) {
        ++indels;
      } else if (a[c] == b[c]) {
        ++matches;
      }
    }
  }
  if (total == 0) {
    matches = layout.matches;
    total = layout.columns;
    indels = 0;
    for (const std::string& copy : layout.copies) indels += std::count(copy.begin(), copy.end(), kGap);
    for (const auto& ins : layout.inserted) {
      for (int32_t i : ins) indels += i;
    }
  }
  if (total == 0) return;
  // Whole percents, cut as the field prints them.
  s.percent_matches = static_cast<int32_t>(100 * matches / total);
  s.percent_indels = static_cast<int32_t>(100 * indels / total);
}

void add_composition(const std::string& array, RepeatStatistics& s) {
  std::array<int64_t, 4> counts{};
  int64_t total = 0;
  for (char c : array) {
    const int k = base_index(c);
    if (k < 0) continue;
    ++counts[static_cast<size_t>(k)];
    ++total;
  }
  if (total == 0) return;
  for (size_t k = 0; k < 4; ++k) {
    const double p = static_cast<double>(counts[k]) / static_cast<double>(total);
    s.composition[k] = static_cast<int32_t>(100.0 * p);  // whole percents, cut as the field prints them
    if (p > 0) s.entropy -= p * std::log2(p);
  }
}

}  // namespace

std::string canonical_motif(std::string_view motif) {
  std::string forward(motif);
  for (char& c : forward) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  std::string reverse(forward.rbegin(), forward.rend());
  for (char& c : reverse) {
    const int k = base_index(c);
    if (k >= 0) c = "TGCA"[k];
  }
  std::string best = forward;
  for (const std::string& strand : {forward, reverse}) {
    for (size_t r = 0; r < strand.size(); ++r) {
      std::string rotation = strand.substr(r) + strand.substr(0, r);
      if (rotation < best) best = std::move(rotation);
    }
  }
  return best;
}

namespace {

// The statistics that follow from the consensus and its alignment.
RepeatStatistics finish(const Layout& layout, const std::string& consensus, RepeatStatistics& s) {
  // Written from the column the repeat's first aligned base stands against.
  const auto f = static_cast<size_t>(layout.first_column) % consensus.size();
  s.consensus = consensus.substr(f) + consensus.substr(0, f);
  // Copies: the consensus columns the alignment passes, in consensus lengths
  // (the bases over the period when there are none).
  s.copies = static_cast<double>(layout.pattern_columns > 0 ? layout.pattern_columns : s.length) /
             static_cast<double>(consensus.size());
  s.score = static_cast<int64_t>(layout.score);
  compare_copies(layout, s);
  s.canonical_motif = canonical_motif(consensus);
  return s;
}

// The statistics of `array` against the consensus grown from `pattern`
// (refined, then given way to a shorter motif it is made of).
RepeatStatistics summarize(const std::string& array, std::string pattern, const Scoring& scoring,
                           bool shorter_motifs = true) {
  RepeatStatistics s;
  s.length = static_cast<int64_t>(array.size());
  add_composition(array, s);
  if (pattern.empty() || array.empty()) return s;
  Layout layout = refine(array, pattern, scoring);
  // The repeat's own first copy, when it explains the repeat better than the
  // pattern it was found with (definition 3 finds a pattern anywhere nearby).
  if (std::string first = array.substr(0, pattern.size()); first != pattern) {
    Layout own = refine(array, first, scoring);
    if (own.score > layout.score) {
      pattern = std::move(first);
      layout = std::move(own);
    }
  }
  if (!shorter_motifs) return finish(layout, pattern, s);
  // A motif that is itself k copies of a shorter one (k = 2, 3, ...) gives way
  // to the shortest such motif whose consensus explains the repeat as well.
  const auto L = static_cast<int32_t>(pattern.size());
  size_t tried = 0;
  for (int32_t k = std::min(L, kLongestDivision); k >= 2; --k) {
    const auto p = static_cast<size_t>(std::lround(static_cast<double>(L) / k));
    if (p == tried || p * 2 > array.size()) continue;
    tried = p;
    bool taken = false;
    for (int32_t j = 0; j < std::min(k, kPiecesTried) && !taken; ++j) {
      std::string shorter = pattern.substr(static_cast<size_t>(j) * p, p);
      if (shorter.size() < p) break;
      // A piece that explains little of the repeat as it stands is not refined.
      if (score_only(array, shorter, scoring) < layout.score * kPieceShareRefined) continue;
      Layout reduced = refine(array, shorter, scoring);
      if (reduced.score >= layout.score * kShorterMotifShare) {
        pattern = std::move(shorter);
        layout = std::move(reduced);
        taken = true;
      }
    }
    if (taken) break;
  }
  return finish(layout, pattern, s);
}

std::string slice(std::string_view bases, int64_t from, int64_t to) {
  const auto n = static_cast<int64_t>(bases.size());
  from = std::clamp<int64_t>(from, 0, n);
  to = std::clamp<int64_t>(to, from, n);
  return std::string(bases.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

// The pattern a repeat was found with.
std::string pattern_of(std::string_view bases, const Repeat& r) {
  return slice(bases, r.motif_start, r.motif_start + std::max(0, r.motif_length));
}

// The stretch around [start, end) that `consensus` aligns with: the window
// grows while the alignment reaches its edge.
std::pair<int64_t, int64_t> extent(std::string_view bases, int64_t start, int64_t end, const std::string& consensus,
                                   const Scoring& scoring) {
  const auto n = static_cast<int64_t>(bases.size());
  const auto P = static_cast<int64_t>(consensus.size());
  int64_t grow = std::max<int64_t>(2 * P, kLeastWindowGrowth);
  for (int round = 0; round < kWindowRounds; ++round, grow *= 2) {
    const int64_t from = std::max<int64_t>(0, start - grow), to = std::min(n, end + grow);
    const Layout layout = lay_out(slice(bases, from, to), consensus, scoring);
    if (layout.last <= layout.first) break;
    start = from + layout.first;
    end = from + layout.last;
    const bool open_left = from > 0 && start - from < P, open_right = to < n && to - end < P;
    if (!open_left && !open_right) break;
  }
  return {start, end};
}

// The whole locus a repeat stands in, with its statistics: the consensus of
// the call as found is aligned over the stretch around it, and laid out again
// with the locus's own consensus until that holds still.
Call locus_of(std::string_view bases, const Repeat& r, size_t source, const Scoring& scoring) {
  Call call{r, {}, source};
  call.statistics = summarize(slice(bases, r.start, r.end), pattern_of(bases, r), scoring, false);
  for (int round = 0; round < kLocusRounds && !call.statistics.consensus.empty(); ++round) {
    const std::string consensus = call.statistics.consensus;
    const auto [start, end] = extent(bases, call.repeat.start, call.repeat.end, consensus, scoring);
    call.repeat.start = start;
    call.repeat.end = end;
    call.statistics = summarize(slice(bases, start, end), consensus, scoring);
    if (call.statistics.consensus == consensus) break;
  }
  return call;
}

// The best score of the calls in `spans` (sorted by start, none longer than
// `longest`) that cover at least half of [start, end); -1 for none.
int64_t best_covering(const std::vector<std::pair<std::pair<int64_t, int64_t>, int64_t>>& spans, int64_t longest,
                      int64_t start, int64_t end) {
  auto it = std::lower_bound(spans.begin(), spans.end(), std::make_pair(std::make_pair(start - longest, int64_t{0}),
                                                                        std::numeric_limits<int64_t>::min()));
  int64_t best = -1;
  for (; it != spans.end() && it->first.first < end; ++it) {
    const auto [from, to] = it->first;
    if (2 * (std::min(end, to) - std::max(start, from)) >= end - start) best = std::max(best, it->second);
  }
  return best;
}

}  // namespace

std::vector<Call> find_adjacent_copies(std::string_view bases, const std::vector<Call>& loci, const Options& options) {
  const Scoring scoring = scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
  std::vector<Candidate> candidates = adjacent_copy_candidates(bases, options);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  // Every locus laid out so far, by start, with its score: the given ones,
  // then those of the candidates.
  std::vector<std::pair<std::pair<int64_t, int64_t>, int64_t>> spans;
  int64_t longest = 0;
  auto add_span = [&](const Call& call) {
    const std::pair<std::pair<int64_t, int64_t>, int64_t> span{{call.repeat.start, call.repeat.end}, call.statistics.score};
    spans.insert(std::upper_bound(spans.begin(), spans.end(), span), span);
    longest = std::max(longest, call.repeat.end - call.repeat.start);
  };
  for (const Call& call : loci) add_span(call);
  std::vector<Call> out;
  for (const Candidate& c : candidates) {
    // A candidate a locus already explains as well is not laid out.
    if (best_covering(spans, longest, c.start, c.end) >= c.score) continue;
    Repeat r;
    r.start = c.start;
    r.end = c.end;
    r.motif_start = c.motif_start;
    r.motif_length = c.motif_length;
    Call call = locus_of(bases, r, kNotGiven, scoring);
    add_span(call);
    const RepeatStatistics& st = call.statistics;
    if (st.score < options.min_score || st.copies < kLeastAdjacentCopies) continue;
    // The row as the definitions' rows read: the consensus's length, its
    // first copy, the copies of it and the score against it.
    Repeat& found = call.repeat;
    found.motif_start = found.start;
    found.motif_length = static_cast<int32_t>(st.consensus.size());
    found.units = st.copies;
    found.value = static_cast<double>(st.score);
    found.definition = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", st.copies);
    found.units_text = text;
    found.value_text = std::to_string(st.score);
    out.push_back(std::move(call));
  }
  std::sort(out.begin(), out.end(), [](const Call& a, const Call& b) {
    return a.repeat.start != b.repeat.start ? a.repeat.start < b.repeat.start : a.repeat.end < b.repeat.end;
  });
  return out;
}

RepeatStatistics describe(std::string_view bases, const Repeat& repeat, const Options& options) {
  const Scoring scoring = scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
  return summarize(slice(bases, repeat.start, repeat.end), pattern_of(bases, repeat), scoring);
}

namespace {

// Ends a copy at `end`, with its percent matches.
void close_copy(CopyAlignment& copy, int64_t end, int64_t matches) {
  copy.end = end;
  int64_t columns = static_cast<int64_t>(copy.letters.size());
  for (const auto& inserted : copy.insertions) columns += static_cast<int64_t>(inserted.second.size());
  if (columns > 0) copy.percent_matches = static_cast<int32_t>(100 * matches / columns);
}

}  // namespace

CopyLayout align_copies(std::string_view bases, int64_t start, int64_t end, const std::string& consensus,
                        const Options& options) {
  CopyLayout out;
  out.consensus = consensus;
  start = std::max<int64_t>(start, 0);
  out.aligned_start = out.aligned_end = start;
  const std::string array = slice(bases, start, end);
  const Traced traced =
      trace(array, consensus, scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap));
  out.score = static_cast<int64_t>(traced.score);
  if (traced.moves.empty()) return out;
  const std::vector<int32_t>& moves = traced.moves;
  const auto L = static_cast<int32_t>(consensus.size());
  int32_t col = traced.first_column;
  int64_t row = traced.first;  // index in `array` of the next aligned base
  out.aligned_start = start + traced.first;
  out.aligned_end = start + traced.last;
  int64_t matches = 0;
  out.copies.push_back(CopyAlignment{start + row, 0, col, {}, {}, 0});
  for (auto e = moves.rbegin(); e != moves.rend(); ++e) {
    CopyAlignment& copy = out.copies.back();
    if (*e == kMoveUp) {
      const auto at = static_cast<int32_t>(copy.letters.size());
      if (copy.insertions.empty() || copy.insertions.back().first != at) copy.insertions.emplace_back(at, "");
      copy.insertions.back().second += array[static_cast<size_t>(row++)];
      continue;
    }
    const char letter = *e == kMoveLeft ? kGap : array[static_cast<size_t>(row++)];
    copy.letters += letter;
    matches += letter == consensus[static_cast<size_t>(col)] ? 1 : 0;
    if (++col == L && e + 1 != moves.rend()) {
      col = 0;
      close_copy(copy, start + row, matches);
      matches = 0;
      out.copies.push_back(CopyAlignment{start + row, 0, 0, {}, {}, 0});
    }
  }
  close_copy(out.copies.back(), start + row, matches);
  return out;
}

std::vector<Call> loci_of(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options) {
  const Scoring scoring = scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
  std::vector<Call> calls;
  calls.reserve(repeats.size());
  for (const Repeat& r : repeats) calls.push_back(locus_of(bases, r, calls.size(), scoring));
  return calls;
}

namespace {

// make(k) for k = 0 .. count - 1 into slot k, on the executor's threads when
// there is one (each thread takes the next k), here otherwise; stops early
// once `cancelled()` holds.
template <typename Make, typename Cancelled>
std::vector<Call> calls_in_order(size_t count, Executor* executor, Make make, Cancelled cancelled) {
  std::vector<Call> out(count);
  if (executor == nullptr || executor->threads() <= 1 || count <= 1) {
    for (size_t k = 0; k < count && !cancelled(); ++k) out[k] = make(k);
    return out;
  }
  std::atomic<size_t> next{0};
  TaskGroup group(*executor);
  for (int32_t t = 0; t < executor->threads(); ++t) {
    group.run([&] {
      for (size_t k = next++; k < count && !cancelled(); k = next++) out[k] = make(k);
    });
  }
  group.wait();  // rethrows what a call threw (std::bad_alloc)
  return out;
}

}  // namespace

std::vector<Call> report_calls(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options,
                               const Reporting& reporting) {
  std::vector<Call> calls;
  const auto cancelled = [&reporting] { return reporting.cancel != nullptr && reporting.cancel->load(); };
  if (!reporting.one_per_locus) {
    calls = calls_in_order(
        repeats.size(), reporting.executor,
        [&](size_t k) { return Call{repeats[k], describe(bases, repeats[k], options), k}; }, cancelled);
    if (cancelled()) return {};
  } else {
    // loci_of(), a call at a time, so that a cancellation is seen between them.
    const Scoring scoring = scoring_from_penalties(options.match, options.mismatch, options.gap, options.terminal_gap);
    std::vector<Call> loci = calls_in_order(
        repeats.size(), reporting.executor, [&](size_t k) { return locus_of(bases, repeats[k], k, scoring); },
        cancelled);
    if (cancelled()) return {};
    if (reporting.adjacent_copies && options.definition == 3) {
      std::vector<Call> more = find_adjacent_copies(bases, loci, options);
      loci.insert(loci.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    calls = choose_loci(std::move(loci));
  }
  std::erase_if(calls, [&reporting](const Call& c) {
    const RepeatStatistics& s = c.statistics;
    return !(s.copies >= reporting.min_copies && s.length >= reporting.min_length &&
             s.percent_matches >= reporting.min_identity && s.score >= reporting.min_consensus_score);
  });
  return calls;
}

std::vector<Call> one_per_locus(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options) {
  return choose_loci(loci_of(bases, repeats, options));
}

std::vector<Call> choose_loci(std::vector<Call> calls) {
  // The best explanation first: highest score, then the shorter consensus, then the earlier start.
  std::vector<size_t> order(calls.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const RepeatStatistics &x = calls[a].statistics, &y = calls[b].statistics;
    if (x.score != y.score) return x.score > y.score;
    if (x.consensus.size() != y.consensus.size()) return x.consensus.size() < y.consensus.size();
    return calls[a].repeat.start < calls[b].repeat.start;
  });
  // A call that overlaps a better one by more than half of the shorter of the
  // two is left out. No kept call lies within another (that would be such an
  // overlap), so by start their ends rise too, and the kept calls a call
  // overlaps stand together around its start.
  std::map<int64_t, const Call*> kept;  // by start
  auto too_close = [](const Repeat& r, const Repeat& k) {
    const int64_t overlap = std::min(r.end, k.end) - std::max(r.start, k.start);
    return 2 * overlap > std::min(r.end - r.start, k.end - k.start);
  };
  for (size_t i : order) {
    const Repeat& r = calls[i].repeat;
    bool covered = false;
    const auto after = kept.upper_bound(r.start);
    for (auto it = after; !covered && it != kept.end() && it->first < r.end; ++it) covered = too_close(r, it->second->repeat);
    for (auto it = after; !covered && it != kept.begin();) {
      --it;
      if (it->second->repeat.end <= r.start) break;
      covered = too_close(r, it->second->repeat);
    }
    if (!covered) kept.emplace(r.start, &calls[i]);
  }
  std::vector<Call> out;
  out.reserve(kept.size());
  for (const auto& [start, k] : kept) out.push_back(*k);
  return out;
}

}  // namespace rivulon
