// The console dialogue that fixes every parameter of a run.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "rivulon/rivulon.h"

namespace rivulon {

// Largest accepted alignment parameter: larger values would overflow the
// 32-bit score arithmetic of the alignments.

// The answers of the dialogue, as entered: the detection's parameters
// (the level or the minimum score, as the definition asks), and the pages.
struct RunSettings : Options {
  bool alignments = false;    // an alignments page is wanted
  bool text_report = false;   // a text report is wanted
  std::string sequence_file;  // first command-line argument, unchanged
  std::optional<std::string> coding_file;  // second argument, when present
};

// Reads a whole number the way "%d" does (leading white space skipped,
// optional sign, digits), leaving the character after it in the stream, but
// for blanks that end the line: "80 \r\n" leaves "\n". Returns nothing when
// no number stands there (including end of input). Values beyond the 64-bit
// range saturate, so they are never wrapped into range.
std::optional<int64_t> read_number(std::FILE* in);

// Reads two single characters and keeps the second (the first absorbs the
// line end of the previous answer, "\r\n" counting as one). True for 'Y' or
// 'y'; end of input is no.
bool read_answer(std::FILE* in);

// Prints the prompts on `out`, reads the answers from `in` and tests each
// value right after reading it. A rejected value prints its message and ends
// the run with status 3000 (fatal).
void run_dialogue(std::FILE* in, std::FILE* out, RunSettings& settings);

}  // namespace rivulon
