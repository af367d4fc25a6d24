#include "batch/clashes.h"

#include <sys/stat.h>
#include <unistd.h>

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

Named named(const std::string& role, const std::string& path) {
  Named n{role, std::nullopt, {}, false, false};
  struct stat info {};
  const bool found = path == "-" ? fstat(STDOUT_FILENO, &info) == 0 : stat(path.c_str(), &info) == 0;
  if (found) {
    n.inode = std::make_pair(info.st_dev, info.st_ino);
    n.device = S_ISCHR(info.st_mode);
  }
  if (path == "-") {
    n.is_stdout = true;
  } else {
    std::error_code failed;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path), failed);
    n.resolved = failed ? path : resolved.string();
  }
  return n;
}

bool same_file(const Named& a, const Named& b) {
  if (a.inode && b.inode && *a.inode == *b.inode) return true;
  return !a.resolved.empty() && a.resolved == b.resolved;
}

}  // namespace

std::string clashing_outputs(const BatchOptions& options) {
  std::vector<Named> outputs;
  const auto quoted = [](const std::string& s) {
    std::string q = "'";
    q += s;
    q += "'";
    return q;
  };
  const std::string table_output = options.output.empty() ? "-" : options.output;
  outputs.push_back(named(table_output == "-" ? "standard output" : "-o " + quoted(table_output), table_output));
  for (const auto& [format, name] : options.also) {
    const char* option = format == OutputFormat::kTsv ? "--tsv-out" : format == OutputFormat::kBed ? "--bed-out" : "--gff3-out";
    std::string role = option;
    if (name == "-") {
      role += " (standard output)";
    } else {
      role += " ";
      role += quoted(name);
    }
    outputs.push_back(named(role, name));
  }
  if (!options.masked_out.empty()) outputs.push_back(named("--masked-out " + quoted(options.masked_out), options.masked_out));
  if (!options.html.empty()) outputs.push_back(named("--html " + quoted(options.html), options.html));

  std::vector<Named> inputs;
  if (options.input != "-") {
    inputs.push_back(named("the input " + quoted(options.input), options.input));
    inputs.push_back(named("the input's index " + quoted(options.input + ".fai"), options.input + ".fai"));
    inputs.push_back(named("the input's index " + quoted(options.input + ".gzi"), options.input + ".gzi"));
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
