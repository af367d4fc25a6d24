#include "rivulon/adjacent_copies.h"

#include <algorithm>
#include <limits>

namespace rivulon {

namespace {

bool is_base(unsigned char c) {
  const unsigned char folded = c | 0x20;
  return folded == 'a' || folded == 'c' || folded == 'g' || folded == 't';
}

// 1 where the base at i matches the one L further on, for i in [from,
// from + count). Only A, C, G and T match (in either case); `letters_only`
// says that the bases hold nothing else.
void compare_at_distance(const unsigned char* b, int64_t from, int64_t count, int32_t L, bool letters_only,
                         uint8_t* out) {
  const unsigned char* x = b + from;
  const unsigned char* y = x + L;
  if (letters_only) {
    for (int64_t k = 0; k < count; ++k) out[k] = static_cast<uint8_t>(x[k] == y[k]);
    return;
  }
  for (int64_t k = 0; k < count; ++k) out[k] = static_cast<uint8_t>(x[k] == y[k] && is_base(x[k]));
}

}  // namespace

std::vector<Candidate> adjacent_copy_candidates(std::string_view bases, const Options& options) {
  constexpr int64_t kBlock = 1 << 14;  // comparisons made at a time
  const auto n = static_cast<int64_t>(bases.size());
  const int64_t match = options.match, mismatch = options.mismatch;
  const auto* b = reinterpret_cast<const unsigned char*>(bases.data());
  const bool letters_only =
      std::all_of(bases.begin(), bases.end(), [](char c) { return is_base(static_cast<unsigned char>(c)); });
  // buffer[k] holds the comparison at position first - W + k: the window's
  // leaving comparisons, then a block of entering ones.
  std::vector<uint8_t> buffer;
  std::vector<Candidate> found;
  for (int32_t L = kLeastAdjacentPeriod; L <= options.max_motif; ++L) {
    // Short motifs need more copies to reach the score: the window covers them.
    const int64_t W = std::max<int64_t>(L, (options.min_score + match - 1) / std::max<int64_t>(match, 1) - L);
    if (W + L > n) break;
    const int64_t compared = n - L;  // positions with a base L further on
    buffer.assign(static_cast<size_t>(W + kBlock), 0);
    compare_at_distance(b, 0, W, L, letters_only, buffer.data() + kBlock);  // the first window
    int64_t matches = 0;
    for (int64_t k = 0; k < W; ++k) matches += buffer[static_cast<size_t>(kBlock + k)];
    // score = match * L + (match + mismatch) * matches - mismatch * W: the
    // window reaches the minimum score from `need` matches on.
    const int64_t step = match + mismatch, base = match * L - mismatch * W;
    const int64_t short_of = options.min_score - base;
    const int64_t need = short_of <= 0 ? 0 : step == 0 ? std::numeric_limits<int64_t>::max() / 2 : (short_of + step - 1) / step;
    Candidate run;
    bool open = false;
    int64_t first = W - kBlock;  // the position buffer[W] stands for
    for (int64_t j = 0;;) {
      if (matches >= need) {
        const int64_t score = base + step * matches;
        if (!open) run = Candidate{j, j + W + L, j, score, L};
        run.end = j + W + L;
        if (score > run.score) run.score = score, run.motif_start = j;
        open = true;
      } else if (open) {
        found.push_back(run);
        open = false;
      }
      // A window gains at most one match on the one before: those that
      // cannot reach `need` are passed over.
      int64_t k = std::min(open ? 1 : std::max<int64_t>(1, need - matches), compared - (j + W));
      if (k <= 0) break;
      while (k > 0) {
        const int64_t entering = j + W;
        if (entering >= first + kBlock) {  // the next block
          std::copy(buffer.end() - W, buffer.end(), buffer.begin());
          first += kBlock;
          compare_at_distance(b, first, std::min(kBlock, compared - first), L, letters_only, buffer.data() + W);
        }
        const int64_t t = std::min(k, first + kBlock - entering);
        const uint8_t* in = buffer.data() + (W + entering - first);
        const uint8_t* out = buffer.data() + (entering - first);
        int64_t gained = 0;
        for (int64_t q = 0; q < t; ++q) gained += static_cast<int64_t>(in[q]) - static_cast<int64_t>(out[q]);
        matches += gained;
        j += t;
        k -= t;
      }
    }
    if (open) found.push_back(run);
  }
  return found;
}

}  // namespace rivulon
