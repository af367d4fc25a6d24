// Whole-program invariants over many seeded random and planted sequences, for
// all three definitions: every listed repeat lies inside the sequence with a
// motif length in 1..M, definitions 1 and 2 list at least two units, and the
// report page, text report and alignments page list the same repeats in the
// same order with matching row numbers and anchors.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace rivulon::testing {
namespace {

struct Row {
  long number, position;
  int motif;
  std::string units, score;
  bool operator==(const Row&) const = default;
};

std::string random_sequence(std::mt19937& rng) {
  const char* alphabet = (rng() % 4 == 0) ? "ACGTacgt" : "ACGT";
  const int letters = alphabet[4] ? 8 : 4;
  const int n = 2 + static_cast<int>(rng() % 300);
  std::string s;
  while (static_cast<int>(s.size()) < n) {
    if (rng() % 3 == 0) {
      // A planted tandem repeat with some substitutions and indels.
      const int L = 1 + static_cast<int>(rng() % 25);
      std::string motif;
      for (int i = 0; i < L; ++i) motif += alphabet[rng() % letters];
      const int copies = 2 + static_cast<int>(rng() % 8);
      for (int c = 0; c < copies; ++c) {
        for (char b : motif) {
          int roll = static_cast<int>(rng() % 40);
          if (roll == 0) continue;
          s += roll == 1 ? alphabet[rng() % letters] : b;
          if (roll == 2) s += alphabet[rng() % letters];
        }
      }
    } else {
      s += alphabet[rng() % letters];
    }
  }
  s.resize(static_cast<size_t>(n));
  return s;
}

std::vector<Row> page_rows(const std::string& page) {
  static const std::regex row(
      "<a href=\"[^\"#]*#([0-9]+)\">([0-9]+)</a></td><td[^>]*>([0-9]+)</td><td[^>]*>([0-9.]+)</td>"
      "<td[^>]*>([0-9.]+)</td>");
  std::vector<Row> rows;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), row); it != std::sregex_iterator(); ++it) {
    rows.push_back({std::stol((*it)[1]), std::stol((*it)[2]), std::stoi((*it)[3]), (*it)[4], (*it)[5]});
  }
  return rows;
}

std::vector<Row> text_rows(const std::string& text) {
  static const std::regex row("  ([0-9]+) +  ([0-9]+) +  ([0-9.]+) +    ([0-9.]+)\r\n");
  std::vector<Row> rows;
  long number = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), row); it != std::sregex_iterator(); ++it) {
    rows.push_back({++number, std::stol((*it)[1]), std::stoi((*it)[2]), (*it)[3], (*it)[4]});
  }
  return rows;
}

std::vector<Row> alignment_rows(const std::string& page) {
  static const std::regex heading(
      "<a name=\"([0-9]+)\"></a>[&nbsp;]+<font color=\"#FFFF00\">Position:</font> ([0-9]+) "
      "&nbsp;&nbsp; <font color=\"#FFFF00\">Motif length:</font> ([0-9]+) &nbsp;&nbsp;  "
      "<font color=\"#FFFF00\">Number of units:</font> ([0-9.]+) &nbsp;&nbsp; "
      "<font color=\"#FFFF00\">(?:Similarity level|Score):</font> ([0-9.]+)</p>");
  std::vector<Row> rows;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), heading); it != std::sregex_iterator(); ++it) {
    rows.push_back({std::stol((*it)[1]), std::stol((*it)[2]), std::stoi((*it)[3]), (*it)[4], (*it)[5]});
  }
  return rows;
}

TEST(Properties, ReportsAgreeOnRandomAndPlantedSequences) {
  ScratchDir dir;
  int listed = 0;
  for (int seed = 0; seed < 300; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    const std::string s = random_sequence(rng);
    write_file(dir.file("r.fa"), ">r\n" + s + "\n");
    const int definition = 1 + seed % 3;
    const int match = 1 + static_cast<int>(rng() % 4);
    const int mismatch = static_cast<int>(rng() % 9);
    const int gap = match + static_cast<int>(rng() % 6);  // gap >= match: a window always exists
    const int terminal = static_cast<int>(rng() % 6);
    const int M = 1 + static_cast<int>(rng() % 60);
    const int level = definition == 3 ? 30 + static_cast<int>(rng() % 40)
                                      : 50 + static_cast<int>(rng() % (100 * match - 49));
    ProcessResult r = run_program(dir.path(), {"r.fa"},
                                  answers(match, mismatch, gap, terminal, M, definition, level, 'Y', 'Y'));
    ASSERT_EQ(r.status, 0) << "seed " << seed;
    std::vector<Row> page = page_rows(read_file(dir.file("atr_r.html")));
    std::vector<Row> text = text_rows(read_file(dir.file("atr_r.txt")));
    std::vector<Row> drawn = alignment_rows(read_file(dir.file("align_r.html")));
    ASSERT_EQ(page, text) << "seed " << seed;
    ASSERT_EQ(page, drawn) << "seed " << seed;
    const int maximum = std::min<int>(M, static_cast<int>(s.size()) / 2);
    for (size_t k = 0; k < page.size(); ++k) {
      const Row& row = page[k];
      ASSERT_EQ(row.number, static_cast<long>(k + 1));
      ASSERT_GE(row.position, 0);
      ASSERT_LT(row.position, static_cast<long>(s.size()));
      ASSERT_GE(row.motif, 1);
      ASSERT_LE(row.motif, maximum);
      if (definition != 3) {
        ASSERT_GE(std::stoi(row.units), 2) << "seed " << seed;
      }
      if (k > 0) {
        ASSERT_GE(row.position, page[k - 1].position);
      }
    }
    listed += static_cast<int>(page.size());
  }
  EXPECT_GT(listed, 100);  // the planted repeats are found
}

}  // namespace
}  // namespace rivulon::testing
