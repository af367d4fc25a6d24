// Names of the output files.
#pragma once
#include <string>

namespace rivulon {

// Forms an output file name from the sequence file name: the directory part
// is dropped (outputs go to the current directory), `prefix` ("atr_" or
// "align_") is put in front, the text from the last '.' on is cut when that
// '.' is not the first character, and `suffix` (".html" or ".txt") is appended.
// A name without any '.' keeps its whole name as the stem.
std::string make_output_name(const std::string& prefix, const std::string& sequence_file,
                             const std::string& suffix);

std::string report_page_name(const std::string& sequence_file);
std::string alignments_page_name(const std::string& sequence_file);
std::string text_report_name(const std::string& sequence_file);

// The file names of one report's pages.
struct PageNames {
  std::string report;      // the report page
  std::string alignments;  // the alignments page
  std::string text;        // the text report
};

// The pages named after a sequence file, as the console program names them.
PageNames page_names_for(const std::string& sequence_file);

// The pages named after `stem`: atr_STEM.html, align_STEM.html, atr_STEM.txt.
PageNames page_names_of_stem(const std::string& stem);

}  // namespace rivulon
