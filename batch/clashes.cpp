#include "batch/clashes.h"

#include "batch/destination.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

namespace rivulon::batch {

namespace {

// A file as named on the command line, and how to recognise it.
struct Named {
  std::string role;  // "-o 'x'", "the input 'y'"
  std::optional<std::pair<dev_t, ino_t>> inode;
  std::string resolved;   // the path once resolved; empty for standard output
  bool device = false;    // a character device (/dev/null, a terminal): may take several outputs
  bool is_stdout = false;
};

// `path` ("-": the descriptor `standard`) as the run would reach it.
Named named(const std::string& role, const std::string& path, int standard = STDOUT_FILENO) {
  Named n{role, std::nullopt, {}, false, false};
  struct stat info {};
  const bool found = path == "-" ? fstat(standard, &info) == 0 : stat(path.c_str(), &info) == 0;
  if (found) {
    n.inode = std::make_pair(info.st_dev, info.st_ino);
    n.device = S_ISCHR(info.st_mode);
  }
  if (path == "-") {
    n.is_stdout = true;
  } else {
    std::error_code failed;
    const std::string followed = resolve_links(path);
    const std::filesystem::path resolved =
        std::filesystem::weakly_canonical(std::filesystem::absolute(followed.empty() ? path : followed), failed);
    n.resolved = failed ? path : resolved.string();
  }
  return n;
}

bool same_file(const Named& a, const Named& b) {
  if (a.inode && b.inode && *a.inode == *b.inode) return true;
  return !a.resolved.empty() && a.resolved == b.resolved;
}

// A file in the classic pages' folder named as its pages are (atr_*.html,
// align_*.html, atr_*.txt) may be replaced by a page; any file in the
// alignments view's folder goes with it.
std::string inside_report_folder(const std::string& dir, bool classic, const std::vector<Named>& outputs,
                                 const std::vector<Named>& inputs) {
  std::error_code failed;
  const std::filesystem::path folder = std::filesystem::weakly_canonical(std::filesystem::absolute(dir), failed);
  auto page_like = [&](const Named& n) {
    if (n.resolved.empty()) return false;
    const std::filesystem::path p(n.resolved);
    if (!classic) {  // the view replaces its folder whole
      const auto [end, rest] = std::mismatch(folder.begin(), folder.end(), p.begin(), p.end());
      return end == folder.end() && rest != p.end();
    }
    const std::string name = p.filename().string();
    const bool pattern = (name.rfind("atr_", 0) == 0 && (name.ends_with(".html") || name.ends_with(".txt"))) ||
                         (name.rfind("align_", 0) == 0 && name.ends_with(".html"));
    return pattern && p.parent_path() == folder;
  };
  for (const std::vector<Named>* list : {&inputs, &outputs}) {
    for (const Named& n : *list) {
      if (!page_like(n)) continue;
      if (!classic) return n.role + " lies in --report-dir '" + dir + "', which the alignments view replaces whole";
      return n.role + " lies in --report-dir '" + dir + "' under a page's name; a page could replace it";
    }
  }
  return "";
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Every output, named by the option that gives it.
std::vector<Named> named_outputs(const BatchOptions& options) {
  std::vector<Named> outputs;
  const std::string table_output = options.output.empty() ? "-" : options.output;
  if (options.from_table.empty()) {  // which writes no table
    outputs.push_back(named(table_output == "-" ? "standard output" : "-o " + quoted(table_output), table_output));
  }
  for (const auto& [format, name] : options.also) {
    const char* option = format == OutputFormat::kTsv ? "--tsv-out" : format == OutputFormat::kBed ? "--bed-out" : "--gff3-out";
    const std::string shown = name == "-" ? std::string(" (standard output)") : std::string(" ").append(quoted(name));
    outputs.push_back(named(std::string(option) + shown, name));
  }
  for (const auto& [option, name] : {std::pair{"--masked-out ", &options.masked_out}, std::pair{"--html ", &options.html},
                                      std::pair{"--control-out ", &options.control_out}}) {
    if (!name->empty()) outputs.push_back(named(option + quoted(*name), *name));
  }
  return outputs;
}

}  // namespace

std::string clashing_outputs(const BatchOptions& options) {
  const std::vector<Named> outputs = named_outputs(options);
  std::vector<Named> inputs;
  if (options.input == "-") {
    const Named in = named("the input (standard input)", "-", STDIN_FILENO);
    if (!in.device) {  // a file given as standard input is still the input
      inputs.push_back(in);
      inputs.back().resolved.clear();  // known by its inode alone
    }
  } else {
    inputs.push_back(named("the input " + quoted(options.input), options.input));
    inputs.push_back(named("the input's index " + quoted(options.input + ".fai"), options.input + ".fai"));
    inputs.push_back(named("the input's index " + quoted(options.input + ".gzi"), options.input + ".gzi"));
  }
  if (!options.annotation.empty()) {
    inputs.push_back(named("the annotation " + quoted(options.annotation), options.annotation));
  }
  if (!options.from_table.empty()) inputs.push_back(named("the table " + quoted(options.from_table), options.from_table));
  if (!options.report_dir.empty()) {
    if (std::string clash = inside_report_folder(options.report_dir, options.classic_pages, outputs, inputs); !clash.empty()) return clash;
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    const Named& out = outputs[i];
    if (out.is_stdout && out.device) continue;  // a terminal: nothing to replace
    for (const Named& in : inputs) {
      if (!out.is_stdout && same_file(out, in)) return out.role + " would replace " + in.role;
      if (out.is_stdout && out.inode && in.inode && *out.inode == *in.inode) {
        return "standard output is " + in.role + ": write the repeats elsewhere";
      }
    }
    for (size_t j = 0; j < i; ++j) {
      const Named& earlier = outputs[j];
      if (out.is_stdout && earlier.is_stdout) return out.role + " and " + earlier.role + " both go to standard output";
      if (out.device && earlier.device) continue;
      if (same_file(out, earlier)) return out.role + " and " + earlier.role + " name the same file";
    }
  }
  return "";
}

}  // namespace rivulon::batch
