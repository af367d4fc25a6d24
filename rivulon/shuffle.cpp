// Dinucleotide-preserving shuffles: a random walk through the sequence's
// dinucleotides as edges of a graph on its letters, each edge used once
// (Altschul and Erickson's method), from the first letter to the last.
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "rivulon/rivulon.h"

namespace rivulon {

namespace {

// A uniform whole number below `bound`, the same on every platform (the
// standard distributions are not).
uint64_t below(std::mt19937_64& rng, uint64_t bound) {
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t x = rng();
  while (x >= limit) x = rng();
  return x % bound;
}

}  // namespace

std::string shuffle_dinucleotides(std::string_view bases, uint64_t seed) {
  if (bases.size() < 3) return std::string(bases);
  // Letters as vertices (any byte may appear); the edges leaving each, in order.
  std::array<std::vector<unsigned char>, 256> edges;
  for (size_t i = 0; i + 1 < bases.size(); ++i) {
    edges[static_cast<unsigned char>(bases[i])].push_back(static_cast<unsigned char>(bases[i + 1]));
  }
  const auto last = static_cast<unsigned char>(bases.back());
  std::mt19937_64 rng(seed);
  // Each vertex but the last keeps one of its edges for its final exit, so
  // that these exits form a tree towards the last letter: the walk then
  // never strands an edge.
  std::array<int, 256> exit_edge;
  exit_edge.fill(-1);
  for (;;) {
    for (int v = 0; v < 256; ++v) {
      exit_edge[static_cast<size_t>(v)] =
          v == last || edges[static_cast<size_t>(v)].empty()
              ? -1
              : static_cast<int>(below(rng, edges[static_cast<size_t>(v)].size()));
    }
    bool tree = true;
    for (int v = 0; v < 256 && tree; ++v) {
      if (exit_edge[static_cast<size_t>(v)] < 0) continue;
      int u = v;
      for (int steps = 0; u != last; ++steps) {
        if (steps > 256 || exit_edge[static_cast<size_t>(u)] < 0) {
          tree = false;
          break;
        }
        u = edges[static_cast<size_t>(u)][static_cast<size_t>(exit_edge[static_cast<size_t>(u)])];
      }
    }
    if (tree) break;
  }
  // The other edges of each vertex in a random order, its exit last.
  for (int v = 0; v < 256; ++v) {
    auto& out = edges[static_cast<size_t>(v)];
    if (out.empty()) continue;
    if (exit_edge[static_cast<size_t>(v)] >= 0) std::swap(out[static_cast<size_t>(exit_edge[static_cast<size_t>(v)])], out.back());
    const size_t free = out.size() - (exit_edge[static_cast<size_t>(v)] >= 0 ? 1 : 0);
    for (size_t i = free; i > 1; --i) std::swap(out[i - 1], out[static_cast<size_t>(below(rng, i))]);
  }
  std::string shuffled(1, bases.front());
  std::array<size_t, 256> used{};
  shuffled.reserve(bases.size());
  while (shuffled.size() < bases.size()) {
    const auto v = static_cast<unsigned char>(shuffled.back());
    shuffled += static_cast<char>(edges[v][used[v]++]);
  }
  return shuffled;
}

}  // namespace rivulon
