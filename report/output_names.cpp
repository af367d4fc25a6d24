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

PageNames page_names_for(const std::string& sequence_file) {
  return {report_page_name(sequence_file), alignments_page_name(sequence_file), text_report_name(sequence_file)};
}

PageNames page_names_of_stem(const std::string& stem) {
  return {"atr_" + stem + ".html", "align_" + stem + ".html", "atr_" + stem + ".txt"};
}

}  // namespace rivulon
