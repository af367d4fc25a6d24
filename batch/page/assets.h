// The summary page's template, style and script: the files of batch/page/,
// built into the program (cmake/embed_files.cmake).
#pragma once
#include <string_view>

namespace rivulon::batch::page {

std::string_view summary_html();
std::string_view summary_css();
std::string_view summary_js();

}  // namespace rivulon::batch::page
