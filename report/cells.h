// How a repeat's number of units and its similarity or score are printed, in
// the report pages, the text report and the batch program's tables alike.
#pragma once
#include <cstdio>
#include <string>

#include "detect/records.h"

namespace rivulon {

struct RepeatCells {
  char units[64];
  char score[64];
};

// Definitions 1 and 2: whole units, similarity with two decimals.
inline RepeatCells format_cells(const RepeatRecord& rec) {
  RepeatCells cells;
  std::snprintf(cells.units, sizeof cells.units, "%ld", static_cast<long>(rec.units));
  std::snprintf(cells.score, sizeof cells.score, "%.2f", rec.similarity);
  return cells;
}

// Definition 3: units with one decimal, the score rounded to a whole number.
inline RepeatCells format_cells(const PatternRepeatRecord& rec) {
  RepeatCells cells;
  std::snprintf(cells.units, sizeof cells.units, "%.1f", rec.units);
  std::snprintf(cells.score, sizeof cells.score, "%.0f", rec.score);
  return cells;
}

}  // namespace rivulon
