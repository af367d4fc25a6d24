#include "report/output_names.h"

namespace rivulon {

std::string make_output_name(const std::string& prefix, const std::string& sequence_file,
                             const std::string& suffix) {
  std::string base = sequence_file;
  size_t slash = base.find_last_of('/');
  if (slash != std::string::npos) base.erase(0, slash + 1);
  std::string name = prefix + base;
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name + suffix;
}

std::string report_page_name(const std::string& f) { return make_output_name("atr_", f, ".html"); }
std::string alignments_page_name(const std::string& f) {
  return make_output_name("align_", f, ".html");
}
std::string text_report_name(const std::string& f) { return make_output_name("atr_", f, ".txt"); }

}  // namespace rivulon
