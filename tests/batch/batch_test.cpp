// rivulon-batch as its users run it: genome files with many records, soft
// masking, runs of N and compression, held against the console program run
// on each stretch alone.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cctype>
#include <csignal>
#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace rivulon::testing {
namespace {

ProcessResult run_batch(const ScratchDir& dir, const std::vector<std::string>& args,
                        const std::string& input = "") {
  return finish_program(start_executable(RIVULON_BATCH_EXE, dir.path(), args, input));
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Records as a genome assembly has them: soft-masked stretches, runs of N
// (upper and lower case), other IUPAC letters, a record too short to examine
// and one of N only.
std::vector<std::pair<std::string, std::string>> genome_records() {
  const std::string globin = bases_of("tests/data/human_beta_globin_HUMHBB.fa");
  const std::string lambda = bases_of("examples/phage_lambda_NC_001416.fa");
  const std::string band = bases_of("tests/data/band.fa");
  const std::string chr_a = "NNNNN" + globin.substr(0, 3000) + lower(globin.substr(3000, 2000)) +
                            globin.substr(5000, 7000) + std::string(10, 'N') +
                            globin.substr(15000, 6000) + "RYK" + lambda.substr(0, 6000) + "N";
  const std::string chr_b = lambda.substr(10000, 4000) + "nnnn" + lower(lambda.substr(14000, 3000)) +
                            lambda.substr(17000, 5000);
  return {{"chrA assembled from two records", chr_a},
          {"tiny", "A"},
          {"gap", "NNNNNNNN"},
          {"chrB", chr_b},
          {"band", band}};
}

struct Row {
  std::string seqid;
  long start;
  int motif_length;
  std::string units, value, motif;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
  return out << r.seqid << ':' << r.start << ' ' << r.motif_length << ' ' << r.units << ' '
             << r.value << ' ' << r.motif;
}

// A table without the comment lines that say what wrote it.
std::string without_comments(const std::string& table) {
  std::istringstream in(table);
  std::string line, body;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] != '#') body += line + "\n";
  }
  return body;
}

std::vector<Row> tsv_rows(const std::string& tsv) {
  std::istringstream in(without_comments(tsv));
  std::string line;
  std::vector<Row> rows;
  std::getline(in, line);
  EXPECT_EQ(line.substr(0, line.find("\tdefinition")), "seqid\tstart\tend\tmotif_length\tunits\t" +
                                                        std::string(line.find("pattern_score") != std::string::npos ? "pattern_score" : "similarity"));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Row r;
    long end = 0;
    int definition = 0;
    fields >> r.seqid >> r.start >> end >> r.motif_length >> r.units >> r.value >> definition >> r.motif;
    rows.push_back(r);
  }
  return rows;
}

// The console program's text report of `bases` alone, as rows starting at
// `shift` + 1 in `seqid` (the text report counts from 0).
std::vector<Row> console_rows(const std::string& seqid, const std::string& bases, long shift,
                              int definition, int max_motif) {
  ScratchDir dir;
  write_file(dir.file("s.fa"), fasta({{"s", bases}}));
  const int threshold = definition == 3 ? 50 : 80;
  const ProcessResult run =
      run_program(dir.path(), {"s.fa"}, answers(2, 7, 7, 3, max_motif, definition, threshold, 'N', 'Y'));
  EXPECT_EQ(run.status, 0) << run.out;
  std::istringstream in(read_file(dir.file("atr_s.txt")));
  std::string line;
  for (int i = 0; i < 7; ++i) std::getline(in, line);
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Row r{seqid, 0, 0, "", "", ""};
    if (!(fields >> r.start >> r.motif_length >> r.units >> r.value)) continue;
    r.start += shift + 1;
    rows.push_back(r);
  }
  return rows;
}

// Each stretch of A/C/G/T of the upper-cased records run alone.
std::vector<Row> rows_of_stretches(const std::vector<std::pair<std::string, std::string>>& records,
                                   int definition, int max_motif) {
  std::vector<Row> rows;
  for (const auto& [header, bases] : records) {
    const std::string seqid = header.substr(0, header.find(' '));
    std::string upper = bases;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t i = 0;
    while (i < upper.size()) {
      while (i < upper.size() && std::string("ACGT").find(upper[i]) == std::string::npos) ++i;
      const size_t start = i;
      while (i < upper.size() && std::string("ACGT").find(upper[i]) != std::string::npos) ++i;
      if (i - start < 2) continue;
      for (Row r : console_rows(seqid, upper.substr(start, i - start), static_cast<long>(start),
                                definition, max_motif)) {
        // The motif: the first copy (definitions 1, 2), checked for those.
        if (definition != 3) r.motif = upper.substr(static_cast<size_t>(r.start - 1), static_cast<size_t>(r.motif_length));
        rows.push_back(r);
      }
    }
  }
  return rows;
}

void write_bgzf(const std::string& path, const std::string& text) {
  BGZF* out = bgzf_open(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(bgzf_write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(bgzf_close(out), 0);
}

constexpr int kMaxMotif = 40;  // keeps the runs short under the sanitizers

TEST(BatchGenome, EachStretchAsIfRunAlone) {
  ScratchDir dir;
  const auto records = genome_records();
  write_file(dir.file("genome.fa"), fasta(records));
  ASSERT_EQ(std::system(("gzip -c " + dir.file("genome.fa") + " > " + dir.file("genome.fa.gz")).c_str()), 0);
  write_bgzf(dir.file("genome.bgz.fa.gz"), fasta(records));
  for (int definition = 1; definition <= 3; ++definition) {
    SCOPED_TRACE("definition " + std::to_string(definition));
    const std::vector<Row> expected = rows_of_stretches(records, definition, kMaxMotif);
    EXPECT_GT(expected.size(), 10u);
    const std::string d = std::to_string(definition), m = std::to_string(kMaxMotif);
    std::string first_output;
    for (const char* input : {"genome.fa.gz", "genome.bgz.fa.gz", "genome.fa"}) {
      const ProcessResult run = run_batch(dir, {"--definition", d, "--overlaps", "all", "--max-motif", m, input});
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      std::vector<Row> got = tsv_rows(run.out);
      if (definition == 3) {
        for (Row& r : got) r.motif.clear();
      }
      EXPECT_EQ(got, expected) << input;
      if (first_output.empty()) first_output = without_command(run.out);
      EXPECT_EQ(without_command(run.out), first_output) << input;
    }
  }
}

TEST(BatchGenome, ThreadsChangeNoByte) {
  ScratchDir dir;
  write_file(dir.file("genome.fa"), fasta(genome_records()));
  for (const char* definition : {"1", "2", "3"}) {
    for (const char* format : {"tsv", "bed", "gff3"}) {
      std::string one;
      for (const char* threads : {"1", "2", "5"}) {
        const ProcessResult run = run_batch(dir, {"genome.fa", "--definition", definition, "--format",
                                                  format, "--max-motif", "30", "--threads", threads});
        ASSERT_EQ(run.status, 0);
        if (one.empty()) one = without_command(run.out);
        EXPECT_EQ(without_command(run.out), one) << definition << ' ' << format << ' ' << threads;
      }
    }
  }
}

// The same repeats in every format, each with its own coordinates.
TEST(BatchGenome, FormatsAgreeOnCoordinates) {
  ScratchDir dir;
  write_file(dir.file("genome.fa"), fasta(genome_records()));
  const std::vector<std::string> common = {"genome.fa", "--max-motif", "30", "-o"};
  auto run_to = [&](const std::string& format, const std::string& out) {
    std::vector<std::string> args = common;
    args.push_back(out);
    args.insert(args.end(), {"--format", format});
    const ProcessResult run = run_batch(dir, args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");  // the result went to the file
    return read_file(dir.file(out));
  };
  const std::string tsv_text = run_to("tsv", "r.tsv"), bed_text = run_to("bed", "r.bed"), gff_text = run_to("gff3", "r.gff3");
  EXPECT_EQ(gff_text.substr(0, 16), "##gff-version 3\n");
  std::istringstream tsv(without_comments(tsv_text)), bed(without_comments(bed_text)), gff(without_comments(gff_text));
  std::string t, b, g;
  std::getline(tsv, t);
  int rows = 0;
  while (std::getline(tsv, t)) {
    std::getline(bed, b);
    std::getline(gff, g);
    std::istringstream tf(t), bf(b), gf(g);
    std::string seqid, units, value, motif, consensus, copies, canonical, bseqid, name, strand, gseqid, source, type,
        gvalue, dot1, dot2, attributes;
    long start, end, bstart, bend, gstart, gend, length, cscore;
    int L, definition, score, bL, period, matches, indels, a, c, gc, tc;
    double entropy;
    tf >> seqid >> start >> end >> L >> units >> value >> definition >> motif >> length >> period >> copies >>
        consensus >> matches >> indels >> cscore >> a >> c >> gc >> tc >> entropy >> canonical;
    bf >> bseqid >> bstart >> bend >> name >> score >> strand >> bL;
    gf >> gseqid >> source >> type >> gstart >> gend >> gvalue >> dot1 >> dot2 >> attributes;
    EXPECT_EQ(bseqid, seqid);
    EXPECT_EQ(bstart, start - 1);  // BED: 0-based, half-open
    EXPECT_EQ(bend, end);
    EXPECT_EQ(name, canonical + "x" + copies);
    EXPECT_GE(score, 0);
    EXPECT_LE(score, 1000);
    EXPECT_EQ(gstart, start);  // GFF3: 1-based, inclusive, like the TSV
    EXPECT_EQ(gend, end);
    EXPECT_EQ(type, "tandem_repeat");
    EXPECT_EQ(gvalue, value);
    EXPECT_EQ(attributes.substr(attributes.find(";Name=")), ";Name=" + name + ";period=" + std::to_string(period) +
                                                              ";copies=" + copies + ";consensus=" + consensus +
                                                              attributes.substr(attributes.find(";percent_matches=")));
    EXPECT_EQ(end - start + 1, length);
    EXPECT_EQ(static_cast<size_t>(period), consensus.size());
    EXPECT_NEAR(a + c + gc + tc, 100, 2);
    EXPECT_TRUE(entropy >= 0 && entropy <= 2) << entropy;
    ++rows;
  }
  EXPECT_GT(rows, 5);
  EXPECT_FALSE(std::getline(bed, b));

  // Several formats from one run, and a device written in place, not replaced.
  const ProcessResult all = run_batch(dir, {"genome.fa", "--max-motif", "30", "-o", "/dev/null",
                                            "--bed-out", "all.bed", "--gff3-out", "all.gff3",
                                            "--tsv-out", "all.tsv"});
  ASSERT_EQ(all.status, 0);
  EXPECT_EQ(without_command(read_file(dir.file("all.bed"))), without_command(read_file(dir.file("r.bed"))));
  EXPECT_EQ(without_command(read_file(dir.file("all.gff3"))), without_command(read_file(dir.file("r.gff3"))));
  EXPECT_EQ(without_command(read_file(dir.file("all.tsv"))), without_command(read_file(dir.file("r.tsv"))));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

// Soft masking lowers exactly the repeats' letters; hard masking puts N there.
TEST(BatchGenome, MaskedFasta) {
  ScratchDir dir;
  const auto records = genome_records();
  write_file(dir.file("genome.fa"), fasta(records));
  const ProcessResult soft = run_batch(dir, {"genome.fa", "--max-motif", "30", "--masked-out", "soft.fa"});
  const ProcessResult hard = run_batch(dir, {"genome.fa", "--max-motif", "30", "--mask", "hard", "--masked-out", "hard.fa"});
  ASSERT_EQ(soft.status, 0);
  ASSERT_EQ(hard.status, 0);
  EXPECT_EQ(without_command(soft.out), without_command(hard.out));
  std::map<std::string, std::vector<bool>> covered;
  for (const auto& [header, bases] : records) covered[header.substr(0, header.find(' '))].assign(bases.size(), false);
  std::istringstream in(without_comments(soft.out));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string seqid;
    long start, end;
    f >> seqid >> start >> end;
    for (long i = start - 1; i < end; ++i) covered[seqid][static_cast<size_t>(i)] = true;
  }
  std::string expected_soft, expected_hard;
  for (const auto& [header, bases] : records) {
    const std::string seqid = header.substr(0, header.find(' '));
    std::string s, h;
    for (size_t i = 0; i < bases.size(); ++i) {
      const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(bases[i])));
      s += covered[seqid][i] ? static_cast<char>(std::tolower(upper)) : upper;
      h += covered[seqid][i] ? 'N' : upper;
    }
    expected_soft += ">" + seqid + "\n";
    expected_hard += ">" + seqid + "\n";
    for (size_t i = 0; i < s.size(); i += 60) {
      expected_soft += s.substr(i, 60) + "\n";
      expected_hard += h.substr(i, 60) + "\n";
    }
  }
  EXPECT_EQ(read_file(dir.file("soft.fa")), expected_soft);
  EXPECT_EQ(read_file(dir.file("hard.fa")), expected_hard);
}

// --region reads a stretch of an indexed file as a sequence of its own,
// reported in the record's coordinates.
TEST(BatchGenome, RegionOfAnIndexedFile) {
  ScratchDir dir;
  const auto records = genome_records();
  write_file(dir.file("genome.fa"), fasta(records));
  ASSERT_EQ(fai_build(dir.file("genome.fa").c_str()), 0);
  const std::string part = records[3].second.substr(2000, 9000);
  write_file(dir.file("part.fa"), fasta({{"chrB", part}}));
  const ProcessResult region =
      run_batch(dir, {"genome.fa", "--region", "chrB:2001-11000", "--definition", "1", "--max-motif", "30"});
  const ProcessResult alone = run_batch(dir, {"part.fa", "--definition", "1", "--max-motif", "30"});
  ASSERT_EQ(region.status, 0) << region.err;
  std::vector<Row> expected = tsv_rows(alone.out);
  for (Row& r : expected) r.start += 2000;
  EXPECT_EQ(tsv_rows(region.out), expected);
  EXPECT_FALSE(expected.empty());

  const ProcessResult outside = run_batch(dir, {"genome.fa", "--region", "chrZ:1-10", "-o", "x.tsv"});
  EXPECT_EQ(outside.status, 1);
  EXPECT_EQ(outside.err, "rivulon-batch: --region 'chrZ:1-10' names no stretch of 'genome.fa'\n");
  EXPECT_FALSE(exists(dir.file("x.tsv")));
}

// The classic pages of a record are the console program's for that record.
TEST(BatchGenome, ReportDirHoldsTheConsolePages) {
  ScratchDir dir;
  const std::string globin = bases_of("tests/data/human_beta_globin_HUMHBB.fa");
  write_file(dir.file("g.fa"), fasta({{"U01317.1", globin}}));
  ASSERT_EQ(run_program(dir.path(), {"g.fa"}, answers(2, 7, 7, 3, 40, 2, 80, 'Y', 'Y')).status, 0);
  const ProcessResult run = run_batch(dir, {"g.fa", "--definition", "2", "--max-motif", "40",
                                            "--report-dir", "pages/deeper", "--classic-pages", "-o", "g.tsv"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(dir.file("pages/deeper/atr_U01317.1.txt")), read_file(dir.file("atr_g.txt")));
  EXPECT_EQ(read_file(dir.file("pages/deeper/align_U01317.1.html")), read_file(dir.file("align_g.html")));
  EXPECT_TRUE(exists(dir.file("pages/deeper/atr_U01317.1.html")));
}

// The alignments view holds, for every row of the table, the same values in
// record coordinates (also past an N run), whatever the threads; a repeat of
// many copies is cut into pieces; a later run replaces the folder whole.
TEST(BatchGenome, AlignmentsViewHoldsTheTablesRows) {
  ScratchDir dir;
  auto records = genome_records();
  std::string micro;
  for (int k = 0; k < 3000; ++k) micro += "AC";
  records.emplace_back("micro", bases_of("examples/phage_lambda_NC_001416.fa").substr(0, 500) + micro);
  write_file(dir.file("g.fa"), fasta(records));
  std::map<std::string, std::string> files[2];
  for (int k = 0; k < 2; ++k) {
    const std::string view = k == 0 ? "one" : "three";
    const ProcessResult run = run_batch(dir, {"g.fa", "-q", "-t", k == 0 ? "1" : "3", "--max-motif", "60", "-o",
                                              "g.tsv", "--html", "s.html", "--report-dir", view});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file(view))) {
      EXPECT_LE(entry.file_size(), 2u << 20) << entry.path();
      files[k][entry.path().filename().string()] = read_file(entry.path().string());
    }
  }
  EXPECT_EQ(files[0], files[1]);
  const std::string summary = read_file(dir.file("s.html"));
  // chrA, chrB, band and micro have repeats: a page each and their parts.
  for (const std::string page : {"record-000001", "record-000004", "record-000005", "record-000006"}) {
    EXPECT_EQ(files[0].count(page + ".html"), 1u) << page;
    EXPECT_EQ(files[0].count(page + "-0001.js"), 1u) << page;
    EXPECT_NE(summary.find("\"three/" + page + ".html\""), std::string::npos) << page;
  }
  EXPECT_NE(summary.find(",0,\"#repeat-1\","), std::string::npos);
  EXPECT_EQ(files[0].count("record-000002.html") + files[0].count("record-000003.html"), 0u);
  EXPECT_NE(files[0]["index.html"].find("chrA"), std::string::npos);
  EXPECT_NE(files[0]["record-000001.html"].find("<a href=\"../s.html\">Summary page</a>"), std::string::npos);

  const std::map<std::string, std::string> pages = {{"chrA", "record-000001"}, {"chrB", "record-000004"},
                                                    {"band", "record-000005"}, {"micro", "record-000006"}};
  std::map<std::string, int> seen;
  std::istringstream table(read_file(dir.file("g.tsv")));
  size_t rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#' || line.rfind("seqid\t", 0) == 0) continue;
    const std::string seqid = line.substr(0, line.find('\t'));
    std::string expected = "[" + std::to_string(++seen[seqid]) + ",[";
    std::istringstream fields(line.substr(seqid.size() + 1));
    bool first = true;
    for (std::string f; std::getline(fields, f, '\t'); first = false) expected += (first ? "\"" : ",\"") + f + "\"";
    expected += "],";
    EXPECT_NE(files[0][pages.at(seqid) + "-0001.js"].find(expected), std::string::npos) << expected;
    ++rows;
  }
  EXPECT_GE(rows, 10u);
  // The microsatellite's 3,000 copies, in two pieces.
  const std::string& micro_part = files[0]["record-000006-0001.js"];
  EXPECT_NE(micro_part.find(",501,6500,3000,0,[[501,502,0,\"AC\",[],100]"), std::string::npos);
  EXPECT_NE(micro_part.find(",501,6500,3000,2000,[[4501,4502,0,\"AC\",[],100]"), std::string::npos);

  // A later run replaces the folder whole; one that fails leaves it.
  ASSERT_EQ(run_batch(dir, {"g.fa", "-q", "--region", "band", "--report-dir", "one", "-o", "b.tsv"}).status, 1);
  write_file(dir.file("band.fa"), fasta({records[4]}));
  ASSERT_EQ(run_batch(dir, {"band.fa", "-q", "--max-motif", "60", "--report-dir", "one", "-o", "b.tsv"}).status, 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.file("one"))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"index.html", "record-000001-0001.js", "record-000001.html", "view.css",
                                             "view.js"}));
  EXPECT_NE(read_file(dir.file("one/record-000001.html")).find("Repeats of <code>band</code>"), std::string::npos);
  // Missing parent folders are made; a trailing slash names the same folder.
  ASSERT_EQ(run_batch(dir, {"band.fa", "-q", "--max-motif", "60", "--report-dir", "deep/er/view/", "-o", "b.tsv"}).status, 0);
  EXPECT_TRUE(exists(dir.file("deep/er/view/index.html")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("deep/er")), {}), 1);
}

// Nothing is written when the command line or the input is wrong.
TEST(BatchErrors, StatusMessageAndNothingWritten) {
  ScratchDir dir;
  write_file(dir.file("ok.fa"), ">a\nACGTACGTACGT\n");
  write_file(dir.file("empty.fa"), "");
  write_file(dir.file("blank.fa"), "\n\n  \n");
  write_file(dir.file("text.txt"), "this is no sequence\n>late header\nACGT\n");
  std::filesystem::create_directory(dir.file("folder"));
  const std::string whole = fasta(genome_records());
  write_bgzf(dir.file("whole.fa.gz"), whole);
  const std::string packed = read_file(dir.file("whole.fa.gz"));
  write_file(dir.file("cut.fa.gz"), packed.substr(0, packed.size() / 2));
  std::string damaged = packed;
  damaged[damaged.size() / 3] = static_cast<char>(damaged[damaged.size() / 3] ^ 0x55);
  write_file(dir.file("damaged.fa.gz"), damaged);

  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"ok.fa", "--match", "abc"}, 2},
      {{"ok.fa", "--definition", "0"}, 2},
      {{"ok.fa", "--format", "vcf"}, 2},
      {{"ok.fa", "--bogus"}, 2},
      {{"ok.fa", "ok.fa"}, 2},
      {{}, 2},
      {{"missing.fa"}, 1},
      {{"folder"}, 1},
      {{"empty.fa"}, 1},
      {{"blank.fa"}, 1},
      {{"text.txt"}, 1},
      {{"cut.fa.gz"}, 1},
      {{"damaged.fa.gz"}, 1},
      {{"ok.fa", "--region", "a:1-4"}, 1},  // no index
  };
  for (auto [args, status] : cases) {
    args.insert(args.end(), {"-o", "out.tsv", "--masked-out", "masked.fa", "--report-dir", "pages",
                             "--html", "summary.html"});
    const ProcessResult run = run_batch(dir, args);
    SCOPED_TRACE(run.err);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("rivulon-batch: ", 0), 0u);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_FALSE(exists(dir.file("out.tsv")));
    EXPECT_FALSE(exists(dir.file("masked.fa")));
    EXPECT_FALSE(exists(dir.file("summary.html")));
    EXPECT_FALSE(exists(dir.file("pages")));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      EXPECT_NE(entry.path().filename().string().rfind(".rivulon-", 0), 0u) << "a temporary is left";
    }
  }
  // An output that cannot be created: status 3, told before any work, and
  // none of the others written.
  const ProcessResult unwritable = run_batch(dir, {"ok.fa", "-o", "folder"});
  EXPECT_EQ(unwritable.status, 3);
  EXPECT_EQ(unwritable.err, "rivulon-batch: cannot write 'folder': it is a folder\n");
  const ProcessResult nowhere = run_batch(dir, {"ok.fa", "-o", "no/such/folder/out.tsv"});
  EXPECT_EQ(nowhere.status, 3);
  for (const char* option : {"--html", "--control-out", "--bed-out"}) {
    const ProcessResult late = run_batch(dir, {"ok.fa", "-o", "out.tsv", "--html", "summary.html", option, "folder"});
    EXPECT_EQ(late.status, 3) << option;
    EXPECT_FALSE(exists(dir.file("out.tsv"))) << option;
    EXPECT_FALSE(exists(dir.file("summary.html"))) << option;
  }
  const ProcessResult dash = run_batch(dir, {"ok.fa", "--control-out", "-"});
  EXPECT_EQ(dash.status, 2);
  EXPECT_FALSE(exists(dir.file("-")));
}

// Parameters the significance model has no quota for leave stretches out:
// each is named, the others reported, and the status says so.
TEST(BatchErrors, StretchesLeftOutAreNamed) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), fasta(genome_records()));
  const ProcessResult run = run_batch(dir, {"g.fa", "--gap", "0", "--mismatch", "0", "--terminal-gap", "0", "--max-motif", "10"});
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("rivulon-batch: warning: chrA:6-12005 was not examined: the significance model has no quota for motif length 4\n"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("\nseqid\t"), std::string::npos);
}

// --control examines shuffled stretches beside the real ones: the calls stay
// as they are, and what chance gave does not depend on the threads.
TEST(BatchGenome, ControlShufflesReportChanceCalls) {
  ScratchDir dir;
  write_file(dir.file("genome.fa"), fasta(genome_records()));
  const ProcessResult plain = run_batch(dir, {"genome.fa", "--max-motif", "30", "-q"});
  std::string chance, table;
  for (const char* threads : {"1", "3"}) {
    const ProcessResult control = run_batch(dir, {"genome.fa", "--max-motif", "30", "-q", "--control", "2", "-t", threads,
                                                  "--html", "s.html", "--control-out", "c.tsv"});
    ASSERT_EQ(control.status, 0) << control.err;
    EXPECT_EQ(tsv_rows(control.out), tsv_rows(plain.out));
    EXPECT_EQ(control.err.rfind("rivulon-batch: chance calls per Mb on 2 dinucleotide shuffle(s) of every stretch", 0), 0u)
        << control.err;
    EXPECT_NE(read_file(dir.file("s.html")).find("chance calls per Mb on 2"), std::string::npos);
    if (chance.empty()) chance = control.err;
    EXPECT_EQ(control.err, chance);
    if (table.empty()) table = without_command(read_file(dir.file("c.tsv")));
    EXPECT_EQ(without_command(read_file(dir.file("c.tsv"))), table);
  }
  // The table holds the line's numbers: one row per period class, the
  // classes adding up to all periods.
  const auto cells = [](const std::string& tsv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(without_comments(tsv));
    for (std::string line, cell; std::getline(lines, line);) {
      std::istringstream fields(line);
      rows.emplace_back();
      while (std::getline(fields, cell, '\t')) rows.back().push_back(cell);
    }
    return rows;
  };
  const std::vector<std::vector<std::string>> rows = cells(table);
  ASSERT_EQ(rows.size(), 5u) << table;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"period_class", "shuffles", "bases_per_shuffle", "calls", "mean_per_Mb", "min_per_Mb", "max_per_Mb"}));
  int64_t by_class = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][1], "2");
    if (i > 1) by_class += std::stoll(rows[i][3]);
    const std::string in_line = (i == 1 ? " all periods " : " " + rows[i][0] + " ") + rows[i][4] + " (" + rows[i][5] + "-" +
                                rows[i][6] + ")";
    EXPECT_NE(chance.find(in_line), std::string::npos) << in_line << " in " << chance;
  }
  EXPECT_EQ(by_class, std::stoll(rows[1][3]));
  // Asked for alone, the table implies one shuffle.
  const ProcessResult implied = run_batch(dir, {"genome.fa", "--max-motif", "30", "-q", "--control-out", "c.tsv"});
  ASSERT_EQ(implied.status, 0) << implied.err;
  EXPECT_EQ(cells(read_file(dir.file("c.tsv")))[1][1], "1");
}

// --from-table: the summary page made from a table an earlier run wrote
// (here gathered from two runs over halves of the genome, gzip) is that
// run's page but for the command line; a table that does not fit the input
// or the options is refused with one line and no page.
TEST(BatchFromTable, PageEqualsTheRunsPage) {
  ScratchDir dir;
  const auto records = genome_records();
  write_file(dir.file("genome.fa"), fasta(records));
  write_file(dir.file("first.fa"), fasta({records.begin(), records.begin() + 2}));
  write_file(dir.file("rest.fa"), fasta({records.begin() + 2, records.end()}));
  auto page_lines = [&dir](const std::string& name) {
    std::string kept;
    std::istringstream page(read_file(dir.file(name)));
    for (std::string line; std::getline(page, line);) {
      if (line.find("command: <code>") == std::string::npos) kept += line + "\n";
    }
    return kept;
  };
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--max-motif", "30"}, {"--max-motif", "30", "--definition", "2", "--overlaps", "all"}}) {
    auto with = [&options](std::vector<std::string> args) {
      args.insert(args.end(), options.begin(), options.end());
      return args;
    };
    ASSERT_EQ(run_batch(dir, with({"genome.fa", "-q", "-o", "one.tsv", "--html", "one.html"})).status, 0);
    ASSERT_EQ(run_batch(dir, with({"first.fa", "-q", "-o", "first.tsv"})).status, 0);
    ASSERT_EQ(run_batch(dir, with({"rest.fa", "-q", "-o", "rest.tsv"})).status, 0);
    std::string gathered = read_file(dir.file("first.tsv"));
    const std::string rest = read_file(dir.file("rest.tsv"));
    gathered += rest.substr(rest.find("\n", rest.find("\nseqid\t") + 1) + 1);
    write_bgzf(dir.file("gathered.tsv.gz"), gathered);
    const ProcessResult made = run_batch(dir, with({"genome.fa", "--from-table", "gathered.tsv.gz", "--html", "t.html"}));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");
    EXPECT_EQ(page_lines("t.html"), page_lines("one.html"));
    EXPECT_GT(tsv_rows(gathered).size(), 5u);
  }

  const std::string table = read_file(dir.file("one.tsv"));  // definition 2, every call
  const size_t body = table.find("\n", table.find("\nseqid\t") + 1) + 1;
  const std::string heading = table.substr(0, body);
  const std::vector<std::string> rows = [&] {
    std::vector<std::string> lines;
    std::istringstream in(table.substr(body));
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
  }();
  ASSERT_GT(rows.size(), 3u);
  // rows[0] with field k (0: seqid, 1: start, 2: end) set to `value`, or cut off when empty.
  auto changed = [&rows](size_t k, const std::string& value) {
    std::vector<std::string> fields;
    std::istringstream in(rows[0].substr(0, rows[0].size() - 1));
    for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
    if (value.empty()) fields.resize(k);
    else fields[k] = value;
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
    return line + "\n";
  };
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"no table of ours", "seqid\tstart\n"},
      {"out of order", heading + rows[1] + rows[0] + rows[2]},
      {"another record", heading + changed(0, "elsewhere")},
      {"past the record", heading + changed(2, "99999999")},
      {"a column short", heading + changed(20, "")},
      {"not a number", heading + changed(1, "x")},
  };
  for (const auto& [what, text] : bad) {
    write_file(dir.file("bad.tsv"), text);
    const ProcessResult run = run_batch(dir, {"genome.fa", "--max-motif", "30", "--definition", "2", "--overlaps", "all",
                                              "--from-table", "bad.tsv", "--html", "bad.html"});
    EXPECT_EQ(run.status, 1) << what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
    EXPECT_FALSE(exists(dir.file("bad.html"))) << what;
  }
  // Other options than the table's: refused, naming both.
  const ProcessResult other = run_batch(dir, {"genome.fa", "--max-motif", "31", "--definition", "2", "--overlaps",
                                              "all", "--from-table", "one.tsv", "--html", "bad.html"});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("max_motif=30"), std::string::npos) << other.err;
  EXPECT_NE(other.err.find("max_motif=31"), std::string::npos) << other.err;
  // Only the page: other outputs, and a page over the table itself, are refused before any work.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--from-table", "one.tsv"}, {"--from-table", "one.tsv", "--html", "p.html", "-o", "x.tsv"},
        {"--from-table", "one.tsv", "--html", "p.html", "--control", "1"}, {"--from-table", "one.tsv", "--html", "one.tsv"}}) {
    std::vector<std::string> full = {"genome.fa", "--max-motif", "30", "--definition", "2", "--overlaps", "all"};
    full.insert(full.end(), args.begin(), args.end());
    EXPECT_EQ(run_batch(dir, full).status, 2) << args.back();
  }
  EXPECT_FALSE(exists(dir.file("p.html")));
  EXPECT_EQ(read_file(dir.file("one.tsv")), table);
}

// --bgzip: BED and GFF3 as BGZF with a tabix index: the same lines as the
// plain tables, and a region read through the index gives exactly the rows
// that overlap it.
TEST(BatchFormats, BgzipTablesReadByRegion) {
  ScratchDir dir;
  write_file(dir.file("genome.fa"), fasta(genome_records()));
  const ProcessResult plain = run_batch(dir, {"genome.fa", "--max-motif", "30", "--format", "bed", "-o", "p.bed",
                                              "--gff3-out", "p.gff3"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const ProcessResult packed = run_batch(dir, {"genome.fa", "--max-motif", "30", "--format", "bed", "-o", "r.bed.gz",
                                               "--gff3-out", "r.gff3.gz", "--bgzip"});
  ASSERT_EQ(packed.status, 0) << packed.err;
  for (const char* base : {"bed", "gff3"}) {
    SCOPED_TRACE(base);
    const std::string path = dir.file(std::string("r.") + base + ".gz");
    BGZF* in = bgzf_open(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(bgzf_compression(in), 2);  // BGZF, not plain gzip
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = bgzf_read(in, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    bgzf_close(in);
    const std::string expected = read_file(dir.file(std::string("p.") + base));
    EXPECT_EQ(without_command(text), without_command(expected));
    // The rows of chrA that overlap 1,000-30,000 (1-based, inclusive), by the index and by hand.
    htsFile* file = hts_open(path.c_str(), "r");
    tbx_t* index = tbx_index_load(path.c_str());
    ASSERT_NE(file, nullptr);
    ASSERT_NE(index, nullptr);
    std::vector<std::string> found;
    hts_itr_t* it = tbx_itr_querys(index, "chrA:1000-30000");
    ASSERT_NE(it, nullptr);
    kstring_t line = {0, 0, nullptr};
    while (tbx_itr_next(file, index, it, &line) >= 0) found.emplace_back(line.s, line.l);
    free(line.s);
    hts_itr_destroy(it);
    tbx_destroy(index);
    hts_close(file);
    std::vector<std::string> wanted;
    std::istringstream rows(expected);
    for (std::string row; std::getline(rows, row);) {
      if (row.empty() || row[0] == '#' || row.rfind("chrA\t", 0) != 0) continue;
      std::istringstream fields(row);
      std::string seqid, source, type;
      long start = 0, end = 0;
      if (std::string(base) == "bed") {
        fields >> seqid >> start >> end;
        ++start;  // BED starts are 0-based
      } else {
        fields >> seqid >> source >> type >> start >> end;
      }
      if (start <= 30000 && end >= 1000) wanted.push_back(row);
    }
    EXPECT_GE(wanted.size(), 3u);
    EXPECT_EQ(found, wanted);
  }
  EXPECT_TRUE(exists(dir.file("r.bed.gz.tbi")));
  EXPECT_EQ(run_batch(dir, {"genome.fa", "--bgzip", "-o", "t.tsv"}).status, 2);  // no BED or GFF3 file
  EXPECT_EQ(run_batch(dir, {"genome.fa", "--bgzip", "--format", "gff3"}).status, 2);  // to standard output
}

// Two copies of a 30-mer four substitutions apart: the default's
// adjacent-copy search reports them as definition 0; without it, or with
// every call of the definition, they are not there.
TEST(BatchGenome, AdjacentCopiesOnlyWithOneCallPerLocus) {
  ScratchDir dir;
  const auto definitions = [](const std::string& tsv) {
    std::vector<std::string> column;
    std::istringstream in(without_comments(tsv));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string cell;
      for (int k = 0; k < 7; ++k) std::getline(fields, cell, '\t');
      column.push_back(cell);
    }
    return column;
  };
  // Such pairs the definition's screening finds about half of the time: the
  // first it leaves out is taken.
  std::mt19937 rng(3);
  auto random = [&rng](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "ACGT"[rng() % 4];
    return s;
  };
  ProcessResult without;
  for (int tries = 0; tries < 20; ++tries) {
    const std::string motif = random(30);
    std::string second = motif;
    for (size_t p : {4u, 12u, 20u, 27u}) second[p] = "ACGT"[(std::string("ACGT").find(second[p]) + 1) % 4];
    write_file(dir.file("g.fa"), ">two\n" + random(400) + motif + second + random(400) + "\n");
    without = run_batch(dir, {"g.fa", "--adjacent-copies", "no"});
    if (definitions(without.out).empty()) break;
  }
  ASSERT_TRUE(definitions(without.out).empty()) << without.out;
  const ProcessResult with = run_batch(dir, {"g.fa"});
  ASSERT_EQ(with.status, 0) << with.err;
  EXPECT_EQ(definitions(with.out), std::vector<std::string>{"0"}) << with.out;
  EXPECT_NE(with.out.find(" adjacent_copies=yes "), std::string::npos);
  const ProcessResult all = run_batch(dir, {"g.fa", "--overlaps", "all"});
  EXPECT_TRUE(definitions(all.out).empty()) << all.out;
  EXPECT_NE(all.out.find(" adjacent_copies=no "), std::string::npos);
}

TEST(BatchErrors, AnnotationWithoutFeaturesIsRefused) {
  ScratchDir dir;
  write_file(dir.file("g.fa"), ">s\nACGACGACGACGTTTTT\n");
  write_file(dir.file("a.bed"), "# a comment\ns\t3\t9\tok\ns\tthree\t9\n");
  const ProcessResult bad = run_batch(dir, {"g.fa", "--annotation", "a.bed", "-o", "r.tsv"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "rivulon-batch: line 3 of the annotation 'a.bed' holds no BED feature\n");
  EXPECT_FALSE(exists(dir.file("r.tsv")));
  const ProcessResult missing = run_batch(dir, {"g.fa", "--annotation", "none.gff3"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "rivulon-batch: cannot read the annotation 'none.gff3'\n");
  const ProcessResult replaced = run_batch(dir, {"g.fa", "--annotation", "a.bed", "-o", "a.bed"});
  EXPECT_EQ(replaced.status, 2);  // an output never replaces the annotation
}

TEST(BatchErrors, StandardInputAndHelp) {
  ScratchDir dir;
  const ProcessResult piped =
      run_batch(dir, {"-", "--definition", "1", "--overlaps", "all", "--max-motif", "20"}, ">s\nACGACGACGACGTTTTT\n");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(tsv_rows(piped.out).size(), 2u);
  const ProcessResult help = run_batch(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: rivulon-batch", 0), 0u);
  const ProcessResult version = run_batch(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("rivulon-batch ", 0), 0u);
}

// Progress shows on standard error only while it is a terminal, and then
// ends cleared; standard output is the same either way.
TEST(BatchProgress, OnlyOnATerminal) {
  ScratchDir dir;
  write_file(dir.file("genome.fa"), fasta(genome_records()));
  const std::vector<std::string> args = {"genome.fa", "--max-motif", "30", "--threads", "1"};
  const ProcessResult plain = run_batch(dir, args);
  const ProcessResult shown = run_with_terminal(RIVULON_BATCH_EXE, dir.path(), args, "");
  ASSERT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, plain.out);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(shown.err.rfind("\r\033[K", 0), 0u) << shown.err;
  EXPECT_NE(shown.err.find("% of "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find(" elapsed"), std::string::npos);
  // The line is cleared, and one line tells what was found and where it went.
  const size_t cleared = shown.err.rfind("\r\033[K");
  ASSERT_NE(cleared, std::string::npos);
  const std::string last = shown.err.substr(cleared + 4);
  EXPECT_EQ(last.rfind("rivulon-batch: ", 0), 0u) << last;
  EXPECT_NE(last.find(" repeats in 5 records; written to standard output\r\n"), std::string::npos) << last;

  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  const ProcessResult silent = run_with_terminal(RIVULON_BATCH_EXE, dir.path(), quiet, "");
  EXPECT_EQ(silent.err, "");
  EXPECT_EQ(without_command(silent.out), without_command(plain.out));
}

// Running out of memory, wherever it happens (the reader growing its record,
// the detection's tables, a thread that cannot start), ends with status 4 and
// its message, leaving no output: never a crash.
TEST(BatchErrors, OutOfMemoryIsStatus4) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limits allow";
#endif
  ScratchDir dir;
  std::string bases;
  uint32_t state = 12345;
  for (int i = 0; i < 6000000; ++i) {
    state = state * 1103515245u + 12345u;
    bases += "ACGT"[(state >> 16) & 3];
  }
  write_file(dir.file("big.fa"), fasta({{"big", bases}}));
  static rlim_t limit_bytes;
  for (rlim_t megabytes : {12, 24, 40, 60}) {
    limit_bytes = megabytes << 20;
    const RunningProgram run = start_executable(
        RIVULON_BATCH_EXE, dir.path(), {"big.fa", "-t", "2", "--max-motif", "20", "-o", "out.tsv"}, "",
        "", [] {
          const rlimit limit{limit_bytes, limit_bytes};
          setrlimit(RLIMIT_AS, &limit);
        });
    const ProcessResult result = finish_program(run);
    SCOPED_TRACE(std::to_string(megabytes) + " MB");
    EXPECT_EQ(result.status, 4) << result.err;
    EXPECT_EQ(result.err.rfind("rivulon-batch: out of memory", 0), 0u) << result.err;
    EXPECT_FALSE(exists(dir.file("out.tsv")));
  }
}

// A run ended by SIGTERM or SIGINT while it waits for more input leaves
// neither its outputs nor their temporaries, and ends by the signal.
TEST(BatchSignals, InterruptedRunLeavesNothing) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.file("genome.fa").c_str(), 0600), 0);
    RunningProgram run = start_executable(RIVULON_BATCH_EXE, dir.path(),
                                          {"genome.fa", "-o", "out.tsv", "--masked-out", "m.fa",
                                           "--html", "s.html", "-t", "1"},
                                          "");
    const int pipe = open(dir.file("genome.fa").c_str(), O_WRONLY);
    ASSERT_GE(pipe, 0);
    // The reader fills whole buffers: the next record's start is followed by
    // enough bases that the first record is complete in what it can read.
    const std::string first = fasta({{"U01317.1", bases_of("tests/data/human_beta_globin_HUMHBB.fa")}}) +
                              ">next\n" + std::string(70000, 'A');
    ASSERT_EQ(write(pipe, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    auto temporaries = [&] {
      int count = 0;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        count += entry.path().filename().string().rfind(".rivulon-", 0) == 0 ? 1 : 0;
      }
      return count;
    };
    for (int waited = 0; waited < 200 && temporaries() < 2; ++waited) usleep(50000);
    EXPECT_EQ(temporaries(), 2);  // the table and the masked FASTA, being written
    kill(run.pid, signal_number);
    const ProcessResult result = finish_program(run);
    close(pipe);
    EXPECT_EQ(result.signal, signal_number);
    EXPECT_EQ(temporaries(), 0);
    EXPECT_FALSE(exists(dir.file("out.tsv")));
    EXPECT_FALSE(exists(dir.file("m.fa")));
    EXPECT_FALSE(exists(dir.file("s.html")));
  }
}

// Every option the program accepts is documented in its manual page.
TEST(BatchDocumentation, ManualPageNamesEveryOption) {
  const std::string manual = read_file(repo_file("batch/rivulon-batch.1"));
  const std::string readme = read_file(repo_file("README.md"));
  ScratchDir dir;
  std::istringstream usage(run_batch(dir, {"--help"}).out);
  std::string line;
  int options = 0;
  while (std::getline(usage, line)) {
    if (line.rfind("  -", 0) != 0) continue;  // a line of the usage's option list
    const size_t dash = line.find("--");
    const std::string option = line.substr(dash, line.find_first_of(" =\\", dash) - dash);
    std::string escaped;
    for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(manual.find(escaped), std::string::npos) << option;
    EXPECT_NE(readme.find("`" + option), std::string::npos) << option;
    ++options;
  }
  EXPECT_GE(options, 19);
}

}  // namespace
}  // namespace rivulon::testing
