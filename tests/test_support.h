// Helpers shared by the tests: scratch directories, files, and running the
// real rivulon executable with a given standard input.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace rivulon::testing {

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rivulon-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    path_ = mkdtemp(buf.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

struct ProcessResult {
  int status;          // exit status as the parent sees it (modulo 256); -1 when killed by a signal
  std::string out;     // standard output
  std::string err;     // standard error
  int signal = 0;      // the signal that ended it, if one did
};

// The program under test: the build's own, or RIVULON_TEST_EXE when set (to
// hold another build, e.g. an older commit's, against the expected outputs).
inline std::string program_path() {
  const char* other = std::getenv("RIVULON_TEST_EXE");
  return other != nullptr && *other != '\0' ? other : RIVULON_EXE;
}

// A run of rivulon started in the background: its process and the files that
// hold its standard input, output and error (named after `tag`, so that two
// runs can share a folder).
struct RunningProgram {
  pid_t pid;
  std::string in_path, out_path, err_path;
};

// Starts `exe` in `dir` with `args`, feeding `input` on standard input;
// `in_child` runs in the child just before the program (e.g. to set limits).
inline RunningProgram start_executable(const std::string& exe, const std::string& dir,
                                       const std::vector<std::string>& args,
                                       const std::string& input, const std::string& tag = "",
                                       void (*in_child)() = nullptr) {
  RunningProgram run{0, dir + "/.stdin" + tag, dir + "/.stdout" + tag, dir + "/.stderr" + tag};
  write_file(run.in_path, input);
  run.pid = fork();
  if (run.pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int in = open(run.in_path.c_str(), O_RDONLY);
    int out = open(run.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(run.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (in_child != nullptr) in_child();
    std::vector<char*> argv;
    std::string name = exe;
    argv.push_back(name.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return run;
}

// Starts rivulon (see start_executable).
inline RunningProgram start_program(const std::string& dir, const std::vector<std::string>& args,
                                    const std::string& input, const std::string& tag = "",
                                    void (*in_child)() = nullptr) {
  return start_executable(program_path(), dir, args, input, tag, in_child);
}

// Waits for a run to end and collects what it printed; its files are removed.
inline ProcessResult finish_program(const RunningProgram& run) {
  int wstatus = 0;
  waitpid(run.pid, &wstatus, 0);
  ProcessResult result{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, read_file(run.out_path),
                       read_file(run.err_path), WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0};
  std::filesystem::remove(run.in_path);
  std::filesystem::remove(run.out_path);
  std::filesystem::remove(run.err_path);
  return result;
}

// Runs rivulon in `dir` with `args`, feeding `input` on standard input.
inline ProcessResult run_program(const std::string& dir, const std::vector<std::string>& args,
                                 const std::string& input) {
  return finish_program(start_program(dir, args, input));
}

// Dialogue answers: match, mismatch, gap, terminal gap, M, definition, level/score, Y/N, Y/N.
inline std::string answers(int match, int mismatch, int gap, int terminal, int M, int definition,
                           int level, char alignments, char text) {
  std::ostringstream ss;
  ss << match << '\n' << mismatch << '\n' << gap << '\n' << terminal << '\n' << M << '\n'
     << definition << '\n' << level << '\n' << alignments << '\n' << text << '\n';
  return ss.str();
}

// Runs `exe` in `dir` with its standard error on a pseudo-terminal (standard
// output and input as run_program's); `err` holds what the terminal showed.
inline ProcessResult run_with_terminal(const std::string& exe, const std::string& dir,
                                       const std::vector<std::string>& args,
                                       const std::string& input) {
  int terminal = -1, side = -1;
  if (openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) return {-1, "", "openpty failed"};
  static int side_for_child;
  side_for_child = side;
  RunningProgram run = start_executable(exe, dir, args, input, ".tty", [] { dup2(side_for_child, 2); });
  close(side);
  std::string shown;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the program and its terminal side are gone
    shown.append(buffer, static_cast<size_t>(got));
  }
  close(terminal);
  ProcessResult result = finish_program(run);
  result.err = shown;
  return result;
}

// A stream positioned at the start of `text`; the caller closes it.
inline std::FILE* stream_of(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

// What the first record at `pos` says; a motif length of 0 when there is none.
struct FirstRecord {
  int32_t motif_length = 0;
  int64_t offset = 0;
  int listed = 0;
  double similarity = 0;  // definitions 1 and 2
};
template <typename Table>
FirstRecord first_record(const Table& table, int pos) {
  for (auto entry : table.chain(pos)) {
    FirstRecord f{entry.repeat.motif_length, entry.offset, entry.listed() ? 1 : 0, 0};
    if constexpr (requires { entry.repeat.similarity; }) f.similarity = entry.repeat.similarity;
    return f;
  }
  return {};
}

// The number of records at `pos`.
template <typename Table>
int chain_length(const Table& table, int pos) {
  int count = 0;
  for ([[maybe_unused]] auto entry : table.chain(pos)) ++count;
  return count;
}

// Adds `repeat` to the table with a record at `pos`; returns its index for
// records at further positions (table.append_to_chain(pos, index)).
template <typename Table, typename Record>
uint32_t put(Table& table, int pos, const Record& repeat) {
  const uint32_t index = table.add_repeat(repeat);
  table.append_to_chain(pos, index);
  return index;
}

// (position, motif length) of every listed record, in listing order.
template <typename Table>
std::vector<std::pair<int, int>> listed_records(const Table& table) {
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < table.n; ++i) {
    for (auto entry : table.chain(i)) {
      if (entry.listed()) out.push_back({i, entry.repeat.motif_length});
    }
  }
  return out;
}

// A file of the repository, by its path from the top.
inline std::string repo_file(const std::string& path) {
  return std::string(RIVULON_SOURCE_DIR) + "/" + path;
}

// The bases of a single-record FASTA file of the repository.
inline std::string bases_of(const std::string& path) {
  const std::string text = read_file(repo_file(path));
  std::string bases;
  size_t line = 0;
  while (line < text.size()) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    if (text[line] != '>') bases.append(text, line, end - line);
    line = end + 1;
  }
  return bases;
}

// FASTA text of (header, bases) records, `width` letters a line.
inline std::string fasta(const std::vector<std::pair<std::string, std::string>>& records, size_t width = 70) {
  std::string text;
  for (const auto& [header, bases] : records) {
    text += ">" + header + "\n";
    for (size_t i = 0; i < bases.size(); i += width) text += bases.substr(i, width) + "\n";
  }
  return text;
}

// A table without its "#command:" line: runs that differ only in arguments
// that change no row (threads, output routes, the input's compression) write
// the same bytes otherwise.
inline std::string without_command(const std::string& table) {
  std::string out;
  size_t at = 0;
  while (at < table.size()) {
    size_t end = table.find('\n', at);
    end = end == std::string::npos ? table.size() : end + 1;
    const std::string line = table.substr(at, end - at);
    if (line.rfind("#command:", 0) != 0 && line.rfind("# command:", 0) != 0) out += line;
    at = end;
  }
  return out;
}

}  // namespace rivulon::testing
