// What the batch program must never do to a user's files: replace its own
// input or index, replace a link or a write-protected file, trust an index
// made for another file, let two records share a page, or report success
// for an output it could not write.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "report/output_file.h"
#include "test_support.h"

namespace rivulon::testing {
namespace {

ProcessResult run_batch(const ScratchDir& dir, const std::vector<std::string>& args) {
  return finish_program(start_executable(RIVULON_BATCH_EXE, dir.path(), args, ""));
}

// The bases of the bundled lambda genome: long enough to hold repeats.
std::string lambda_bases() { return bases_of("examples/phage_lambda_NC_001416.fa"); }

std::string fasta(const std::vector<std::pair<std::string, std::string>>& records) {
  return testing::fasta(records, 60);
}

// Every name in `dir` (not below it) but the runner's own files.
std::map<std::string, std::string> folder(const ScratchDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".std", 0) == 0) continue;
    files[name] = entry.is_regular_file() && !entry.is_symlink() ? read_file(entry.path().string()) : "<other>";
  }
  return files;
}

void run_unprivileged() {
  if (getuid() != 0) return;
  if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
}

TEST(BatchSafety, NoOutputReplacesTheInputItsIndexOrAnotherOutput) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta({{"lam", lambda_bases().substr(0, 8000)}}));
  ASSERT_EQ(fai_build(dir.file("g.fa").c_str()), 0);
  std::filesystem::create_symlink("g.fa", dir.file("link.fa"));
  BGZF* packed = bgzf_open(dir.file("g.fa.gz").c_str(), "w");
  const std::string text = read_file(dir.file("g.fa"));
  ASSERT_EQ(bgzf_write(packed, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(bgzf_close(packed), 0);
  const std::map<std::string, std::string> before = folder(dir);
  const std::vector<std::vector<std::string>> cases = {
      {"g.fa", "-o", "g.fa"},
      {"g.fa", "--bed-out", "./g.fa"},
      {"g.fa", "--gff3-out", dir.file("g.fa")},
      {"g.fa", "--masked-out", "g.fa"},
      {"g.fa", "--html", "g.fa"},
      {"g.fa.gz", "-o", "g.fa.gz"},
      {"g.fa", "--region", "lam:1-4000", "-o", "g.fa"},
      {"link.fa", "-o", "g.fa"},
      {"g.fa", "-o", "link.fa"},
      {"g.fa", "-o", "g.fa.fai"},
      {"g.fa", "-o", "out.tsv", "--bed-out", "./out.tsv"},
      {"g.fa", "--masked-out", "m.fa", "--html", "m.fa"},
      {"g.fa", "--tsv-out", "-"},
  };
  for (const auto& args : cases) {
    const ProcessResult run = run_batch(dir, args);
    SCOPED_TRACE(::testing::PrintToString(args) + " " + run.err);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_NE(run.err.find("nothing was written"), std::string::npos);
    EXPECT_EQ(folder(dir), before);
  }
  // Devices may take several outputs.
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "-o", "/dev/null", "--bed-out", "/dev/null"}).status, 0);
}

// Runs the batch program in `dir` with standard input from `in` and standard
// output to `out` (descriptors); returns the wait status.
int run_with_descriptors(const ScratchDir& dir, const std::vector<std::string>& args, int in, int out) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    std::vector<char*> argv = {const_cast<char*>(RIVULON_BATCH_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(RIVULON_BATCH_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST(BatchSafety, InputsByAnyRouteAndPagesNeverReplaced) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta({{"lam", lambda_bases().substr(0, 8000)}}));
  const std::string genome = read_file(dir.file("g.fa"));
  // The input given as standard input.
  const int in = open(dir.file("g.fa").c_str(), O_RDONLY);
  const int status = run_with_descriptors(dir, {"-", "-q", "-o", "g.fa"}, in, -1);
  close(in);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(read_file(dir.file("g.fa")), genome);
  // A file in the report folder under a page's name: the input, or an output.
  std::filesystem::create_directory(dir.file("rd"));
  write_file(dir.file("rd/atr_s.html"), fasta({{"s", lambda_bases().substr(0, 3000)}}));
  EXPECT_EQ(run_batch(dir, {"rd/atr_s.html", "-q", "--report-dir", "rd", "--classic-pages"}).status, 2);
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "rd/", "--classic-pages", "--html", "rd/atr_lam.html"}).status, 2);
  // The alignments view replaces its folder whole: no input or output may
  // lie in it, at any depth, and a folder it did not write is left alone.
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "rd", "-o", "rd/deeper/x.tsv"}).status, 2);
  EXPECT_EQ(run_batch(dir, {"rd/atr_s.html", "-q", "--report-dir", "."}).status, 2);
  const ProcessResult foreign = run_batch(dir, {"g.fa", "-q", "--report-dir", "rd", "-o", "x.tsv"});
  EXPECT_EQ(foreign.status, 3);
  EXPECT_NE(foreign.err.find("holds files an earlier run did not write"), std::string::npos) << foreign.err;
  EXPECT_FALSE(exists(dir.file("x.tsv")));
  EXPECT_EQ(read_file(dir.file("rd/atr_s.html")).rfind(">s\n", 0), 0u);
  // An earlier view the user has added a file or a folder to stays as it is.
  ASSERT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "view", "-o", "x.tsv"}).status, 0);
  for (const std::string added : {"view/notes.txt", "view/sub/kept.txt"}) {
    std::filesystem::create_directories(dir.file("view/sub"));
    write_file(dir.file(added), "mine");
    EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "view", "-o", "x.tsv"}).status, 3) << added;
    EXPECT_EQ(read_file(dir.file(added)), "mine");
    std::filesystem::remove(dir.file(added));
  }
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "view/.", "-o", "x.tsv"}).status, 3);
  std::filesystem::remove(dir.file("view/sub"));
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "--report-dir", "view/", "-o", "x.tsv"}).status, 0);
  // A link to a file not there yet names where the file goes, also for the clash check.
  std::filesystem::create_symlink("new.tsv", dir.file("dangling"));
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "-o", "dangling", "--bed-out", "new.tsv"}).status, 2);
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "-o", "dangling"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling")));
  EXPECT_NE(read_file(dir.file("new.tsv")).find("\nseqid\t"), std::string::npos);
  // A replaced output keeps its permissions.
  chmod(dir.file("new.tsv").c_str(), 0600);
  EXPECT_EQ(run_batch(dir, {"g.fa", "-q", "-o", "new.tsv"}).status, 0);
  struct stat info {};
  stat(dir.file("new.tsv").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // A reader of standard output that goes away: the run ends by SIGPIPE, its temporaries removed.
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);
  const int piped = run_with_descriptors(dir, {"g.fa", "-q", "--report-dir", "piped"}, -1, pipe_ends[1]);
  close(pipe_ends[1]);
  EXPECT_TRUE(WIFSIGNALED(piped) && WTERMSIG(piped) == SIGPIPE);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string().rfind(".rivulon-", 0), 0u) << entry.path();
  }
}

TEST(BatchSafety, ALinkIsWrittenThroughNeverReplaced) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta({{"lam", lambda_bases().substr(0, 8000)}}));
  std::filesystem::create_symlink("/proc/self/fd/1", dir.file("s"));
  std::filesystem::create_symlink("target.tsv", dir.file("to_file"));
  write_file(dir.file("target.tsv"), "old\n");
  const ProcessResult run = run_batch(dir, {"g.fa", "-q", "-o", "./s", "--bed-out", "to_file"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("s")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("to_file")));
  EXPECT_NE(run.out.find("\nseqid\tstart"), std::string::npos);  // the TSV reached standard output
  EXPECT_NE(read_file(dir.file("target.tsv")), "old\n");

  // Standard output appended to by the shell stays appended to.
  write_file(dir.file("log.tsv"), "earlier lines\n");
  const pid_t child = fork();
  if (child == 0) {
    const int log = open(dir.file("log.tsv").c_str(), O_WRONLY | O_APPEND);
    dup2(log, 1);
    execl(RIVULON_BATCH_EXE, RIVULON_BATCH_EXE, dir.file("g.fa").c_str(), "-q", "-o", "/dev/stdout", nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(without_command(read_file(dir.file("log.tsv"))), "earlier lines\n" + without_command(run.out));
}

TEST(BatchSafety, AnIndexThatDoesNotFitTheFileIsRefused) {
  ScratchDir dir;
  const std::string lam = lambda_bases().substr(0, 12000);
  write_file(dir.file("g.fa"), fasta({{"lam", lam}}));
  ASSERT_EQ(fai_build(dir.file("g.fa").c_str()), 0);
  const ProcessResult good = run_batch(dir, {"g.fa", "--region", "lam", "-q"});
  ASSERT_EQ(good.status, 0) << good.err;
  ASSERT_EQ(good.err, "");
  const std::string fai = read_file(dir.file("g.fa.fai"));

  // A record put before the indexed one: the old offsets point into it.
  write_file(dir.file("g.fa"), fasta({{"first", lam.substr(0, 64)}, {"lam", lam}}));
  const timeval later[2] = {{time(nullptr) + 5, 0}, {time(nullptr) + 5, 0}};
  utimes(dir.file("g.fa.fai").c_str(), later);  // newer than the file: no warning to lean on
  const std::vector<std::string> broken = {
      fai,                            // stale
      "lam\t12000\t5\t0\t61\n",       // no bases per line
      "lam\t12000\t99999\t60\t61\n",  // past the end
      "lam\t12000000\t11\t60\t61\n",  // longer than the file
      "lam\tx\t5\t60\t61\n",          // not a number
  };
  for (const std::string& index : broken) {
    if (&index != &broken.front()) write_file(dir.file("g.fa.fai"), index);
    utimes(dir.file("g.fa.fai").c_str(), later);
    const ProcessResult run = run_batch(dir, {"g.fa", "--region", "lam", "-o", "out.tsv"});
    SCOPED_TRACE(index + run.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("re-index it: samtools faidx 'g.fa'"), std::string::npos);
    EXPECT_FALSE(exists(dir.file("out.tsv")));
  }
  // A record without bases and without a line length: refused, no division by zero.
  write_file(dir.file("g.fa.fai"), "lam\t0\t3\t0\t0\n");
  const ProcessResult empty = run_batch(dir, {"g.fa", "--region", "lam:1-100", "-q"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.signal, 0);

  // The same file wrapped anew at 50 letters a line under the index for 60.
  write_file(dir.file("g.fa"), fasta({{"first", lam.substr(0, 64)}, {"lam", lam}}));
  ASSERT_EQ(fai_build(dir.file("g.fa").c_str()), 0);
  const std::string sixty = read_file(dir.file("g.fa.fai"));
  std::string fifty;
  for (const auto& [name, bases] : std::vector<std::pair<std::string, std::string>>{{"first", lam.substr(0, 64)}, {"lam", lam}}) {
    fifty += ">" + name + "\n";
    for (size_t i = 0; i < bases.size(); i += 50) fifty += bases.substr(i, 50) + "\n";
  }
  write_file(dir.file("g.fa"), fifty);
  write_file(dir.file("g.fa.fai"), sixty);
  utimes(dir.file("g.fa.fai").c_str(), later);
  const ProcessResult rewrapped = run_batch(dir, {"g.fa", "--region", "lam:5000-9000", "-q"});
  EXPECT_EQ(rewrapped.status, 1) << rewrapped.err;

  // The right index, older than the file: a warning, and the right rows.
  ASSERT_EQ(fai_build(dir.file("g.fa").c_str()), 0);
  const timeval earlier[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
  utimes(dir.file("g.fa.fai").c_str(), earlier);
  const ProcessResult older = run_batch(dir, {"g.fa", "--region", "lam", "-q"});
  EXPECT_EQ(older.status, 0);
  EXPECT_EQ(older.out, good.out);
  EXPECT_NE(older.err.find("warning: the index 'g.fa.fai' is older than 'g.fa'"), std::string::npos);

  // bgzip (more than one block): its .gzi is checked before records are read through it.
  const std::string two = fasta({{"one", lambda_bases()}, {"two", lambda_bases()}});
  write_file(dir.file("two.fa"), two);
  BGZF* packed = bgzf_open(dir.file("two.fa.gz").c_str(), "w");
  ASSERT_EQ(bgzf_write(packed, two.data(), two.size()), static_cast<ssize_t>(two.size()));
  ASSERT_EQ(bgzf_close(packed), 0);
  ASSERT_EQ(fai_build(dir.file("two.fa.gz").c_str()), 0);
  ASSERT_EQ(fai_build(dir.file("two.fa").c_str()), 0);
  const ProcessResult plain = run_batch(dir, {"two.fa", "--region", "two:1-6000", "-q"});
  const ProcessResult gz = run_batch(dir, {"two.fa.gz", "--region", "two:1-6000", "-q"});
  EXPECT_EQ(gz.status, 0) << gz.err;
  EXPECT_EQ(without_command(gz.out), without_command(plain.out));
  std::string gzi = read_file(dir.file("two.fa.gz.gzi"));
  ASSERT_GE(gzi.size(), 24u);
  gzi[8] = static_cast<char>(gzi[8] + 1);  // the second block's compressed offset, one byte off
  write_file(dir.file("two.fa.gz.gzi"), gzi);
  const ProcessResult bad_gzi = run_batch(dir, {"two.fa.gz", "--region", "two:1-6000", "-q"});
  EXPECT_EQ(bad_gzi.status, 1);
  EXPECT_NE(bad_gzi.err.find(".gzi"), std::string::npos) << bad_gzi.err;
}

TEST(BatchSafety, RecordNamesAreUniqueAndPagesNeverShared) {
  ScratchDir dir;
  const std::string lam = lambda_bases();
  // Names that met on one page name before: a/b and a_b; a record named like
  // another record's stretch (x:1-3000 and the stretch before x's N run).
  const std::string x = lam.substr(0, 3000) + std::string(50, 'N') + lam.substr(3050, 3000);
  write_file(dir.file("g.fa"), fasta({{"a/b", lam.substr(6000, 3000)}, {"a_b", lam.substr(9000, 3000)},
                                      {"x", x}, {"x:1-3000", lam.substr(12000, 3000)},
                                      {"x_1-3000", lam.substr(15000, 3000)}}));
  std::map<std::string, std::string> pages[2];
  for (int k = 0; k < 2; ++k) {
    const std::string folder_name = k == 0 ? "one" : "three";
    const ProcessResult run =
        run_batch(dir, {"g.fa", "-q", "-t", k == 0 ? "1" : "3", "--max-motif", "40", "--report-dir", folder_name,
                        "--classic-pages"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file(folder_name))) {
      pages[k][entry.path().filename().string()] = read_file(entry.path().string());
    }
  }
  EXPECT_EQ(pages[0], pages[1]);
  EXPECT_EQ(pages[0].size(), 3u * 6u);  // three pages for each of six stretches
  EXPECT_EQ(pages[0].count("atr_a%2Fb.html"), 1u);
  EXPECT_EQ(pages[0].count("atr_x%3A1-3000.html"), 1u);
  EXPECT_EQ(pages[0].count("atr_x:1-3000.html"), 1u);

  // A name too long for a file name: its pages end in a hash of it.
  const std::string long_name(300, 'L');
  write_file(dir.file("long.fa"), fasta({{long_name, lam.substr(0, 3000)}, {long_name + "M", lam.substr(3000, 3000)}}));
  ASSERT_EQ(run_batch(dir, {"long.fa", "-q", "--max-motif", "20", "--report-dir", "long", "--classic-pages"}).status, 0);
  size_t long_pages = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.file("long"))) {
    const std::string name = entry.path().filename().string();
    EXPECT_LE(name.size(), 255u);
    EXPECT_NE(name.find(std::string(180, 'L') + "~"), std::string::npos) << name;
    ++long_pages;
  }
  EXPECT_EQ(long_pages, 6u);

  write_file(dir.file("twice.fa"), fasta({{"chr1", "ACGTACGT"}, {"chr2", "ACGT"}, {"chr1", "ACGTTT"}}));
  write_file(dir.file("unnamed.fa"), fasta({{"chr1", "ACGTACGT"}, {"", "ACGTACGT"}}));
  for (const std::string input : {"twice.fa", "unnamed.fa"}) {
    const ProcessResult run = run_batch(dir, {input, "-o", "out.tsv", "--report-dir", "new_folder"});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(exists(dir.file("out.tsv")));
    EXPECT_FALSE(exists(dir.file("new_folder")));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    if (input == std::string("twice.fa")) {
      EXPECT_EQ(run.err, "rivulon-batch: records 1 and 3 are both named 'chr1'; give every record its own name\n");
    } else {
      EXPECT_EQ(run.err, "rivulon-batch: record 2 has no name (no word right after the '>' of its header line)\n");
    }
  }
}

TEST(BatchSafety, FailedOrForbiddenWritesReplaceNothing) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta({{"lam", lambda_bases().substr(0, 8000)}}));
  write_file(dir.file("out.tsv"), "earlier\n");
  // Every write to /dev/full fails: status 3, and no output replaced.
  const ProcessResult full = run_batch(dir, {"g.fa", "-q", "-o", "out.tsv", "--html", "/dev/full"});
  EXPECT_EQ(full.status, 3);
  EXPECT_NE(full.err.find("cannot write '/dev/full'"), std::string::npos);
  EXPECT_EQ(read_file(dir.file("out.tsv")), "earlier\n");

  // A write-protected earlier output, for a user who may not write it (root may).
  chmod(dir.path().c_str(), 0777);
  chmod(dir.file("g.fa").c_str(), 0644);
  chmod(dir.file("out.tsv").c_str(), 0444);
  const ProcessResult batch = finish_program(
      start_executable(RIVULON_BATCH_EXE, dir.path(), {"g.fa", "-q", "-o", "out.tsv"}, "", "", run_unprivileged));
  EXPECT_EQ(batch.status, 3) << batch.err;
  EXPECT_EQ(read_file(dir.file("out.tsv")), "earlier\n");
  write_file(dir.file("atr_g.html"), "earlier\n");
  chmod(dir.file("atr_g.html").c_str(), 0444);
  const ProcessResult console = finish_program(
      start_program(dir.path(), {"g.fa"}, answers(2, 7, 7, 3, 10, 1, 80, 'N', 'N'), "", run_unprivileged));
  EXPECT_NE(console.status, 0);
  EXPECT_EQ(read_file(dir.file("atr_g.html")), "earlier\n");

  // A mismatch penalty of 0 is allowed, and warned about.
  const ProcessResult no_mismatch = run_batch(dir, {"g.fa", "-q", "--mismatch", "0", "--max-motif", "4"});
  EXPECT_EQ(no_mismatch.status, 0);
  EXPECT_NE(no_mismatch.err.find("warning: --mismatch 0"), std::string::npos);
}

TEST(BatchSafety, FolderLocksAndLeftoversOfKilledRuns) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta({{"lam", lambda_bases().substr(0, 8000)}}));
  std::filesystem::create_directory(dir.file("pages"));
  // A console run holds its folder shared: a batch run writing pages there waits its turn.
  const int shared = lock_folder(dir.file("pages"), /*alone=*/false);
  ASSERT_GE(shared, 0);
  const ProcessResult busy = run_batch(dir, {"g.fa", "-q", "-o", "out.tsv", "--report-dir", "pages", "--classic-pages"});
  EXPECT_EQ(busy.status, 3);
  EXPECT_NE(busy.err.find("another run is writing pages in 'pages'"), std::string::npos);
  EXPECT_FALSE(exists(dir.file("out.tsv")));
  release_folder(shared);
  // And a batch run's folder excludes a console run.
  const int alone = lock_folder(dir.path(), /*alone=*/true);
  ASSERT_GE(alone, 0);
  const ProcessResult console = run_program(dir.path(), {"g.fa"}, answers(2, 7, 7, 3, 10, 1, 80, 'N', 'N'));
  EXPECT_NE(console.status, 0);
  EXPECT_FALSE(exists(dir.file("atr_g.html")));
  release_folder(alone);

  // Leftovers of a killed run on this host go; another host's stay.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = temporary_prefix(gone) + "abcdef";
  const std::string elsewhere = ".rivulon-otherhost-0000001-abcdef";
  for (const std::string& name : {"pages/" + dead, dead, elsewhere}) {
    write_file(dir.file(name), "x");  // the last one left a moment ago, in this very second
    if (name != dead) {
      const timeval past[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
      utimes(dir.file(name).c_str(), past);
    }
  }
  ASSERT_EQ(run_batch(dir, {"g.fa", "-q", "-o", "out.tsv", "--report-dir", "pages", "--classic-pages"}).status, 0);
  EXPECT_FALSE(exists(dir.file("pages/" + dead)));
  EXPECT_FALSE(exists(dir.file(dead)));
  EXPECT_TRUE(exists(dir.file(elsewhere)));
}

}  // namespace
}  // namespace rivulon::testing
