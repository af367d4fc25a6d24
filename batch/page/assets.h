// The pages' templates, styles and scripts: the files of batch/page/,
// built into the program (cmake/embed_files.cmake).
#pragma once
#include <string_view>

namespace rivulon::batch::page {

std::string_view summary_html();
std::string_view summary_css();
std::string_view summary_js();
// The alignments view (--report-dir): a record's page, the index, and the
// style and script they share.
std::string_view record_html();
std::string_view index_html();
std::string_view view_css();
std::string_view view_js();

}  // namespace rivulon::batch::page
