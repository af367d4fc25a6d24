// Golden runs: each folder of tests/golden is one run of the program.
//
//   args      the command-line arguments, one per line (absent: none)
//   stdin     what the run reads on standard input (absent: nothing)
//   inputs    repository files copied into the run's folder, one path per line
//   input/    the case's own files, copied into the run's folder
//   expected/ stdout, stderr, status and files/: every file the run leaves
//
// The run's standard output and error, exit status and every file it leaves must equal
// expected/ byte for byte; a missing or extra file fails the case.
#include <gtest/gtest.h>

#include <sstream>

#include "golden.h"

namespace rivulon::testing {
namespace {

const std::string kGoldenDir = std::string(RIVULON_SOURCE_DIR) + "/tests/golden";

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(exists(path) ? read_file(path) : "");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> golden_cases() {
  std::vector<std::string> cases;
  for (const auto& entry : std::filesystem::directory_iterator(kGoldenDir)) {
    if (entry.is_directory()) cases.push_back(entry.path().filename().string());
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, OutputsEqualTheExpectedBytes) {
  const std::string dir = kGoldenDir + "/" + GetParam();
  ScratchDir run_dir;
  std::set<std::string> inputs;
  for (const std::string& path : lines_of(dir + "/inputs")) {
    const std::string name = std::filesystem::path(path).filename().string();
    std::filesystem::copy_file(std::string(RIVULON_SOURCE_DIR) + "/" + path, run_dir.file(name));
    inputs.insert(name);
  }
  if (std::filesystem::is_directory(dir + "/input")) {
    std::filesystem::copy(dir + "/input", run_dir.path(), std::filesystem::copy_options::recursive);
    for (const auto& [name, content] : read_tree(dir + "/input")) inputs.insert(name);
  }
  const std::string input = exists(dir + "/stdin") ? read_file(dir + "/stdin") : "";
  const ProcessResult result = run_program(run_dir.path(), lines_of(dir + "/args"), input);

  std::map<std::string, std::string> actual{{"stdout", result.out},
                                            {"status", std::to_string(result.status) + "\n"}};
  if (!result.err.empty()) actual["stderr"] = result.err;
  for (const auto& [name, content] : read_tree(run_dir.path(), inputs)) actual["files/" + name] = content;
  expect_files(dir + "/expected", actual);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRun, ::testing::ValuesIn(golden_cases()),
                         [](const ::testing::TestParamInfo<std::string>& param) { return param.param; });

}  // namespace
}  // namespace rivulon::testing
