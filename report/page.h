// Pieces shared by every output page: the page head with its credits, the
// provisional page, the text report head and the parameter lines.
#pragma once
#include <cstdint>
#include <cstdio>

#include "align/sequence.h"

namespace rivulon {

inline constexpr const char* kAuthors = "Rivulon contributors";
inline constexpr const char* kDepartment = "Tandem repeat analysis";
inline constexpr const char* kInstitution = "The Rivulon project";

// Writes the HTML head and credits block that every page begins with.
void write_page_head(std::FILE* out);

// Writes the page that stands under the report page's name while the run works.
void write_provisional_page(std::FILE* out);

// Writes the four head lines of the text report.
void write_text_report_head(std::FILE* out);

// Writes the alignment parameters (penalties as scored, i.e. <= 0) and the
// sequence length.
void write_parameter_lines(std::FILE* out, const Scoring& scoring, int64_t length);

}  // namespace rivulon
