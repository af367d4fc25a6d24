// The batch program's parts that need no process: the command line, the
// splitting of records, the output cells, the summary page and the progress
// line.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "batch/formats.h"
#include "batch/options.h"
#include "batch/progress.h"
#include "rivulon/genome.h"
#include "batch/summary_page.h"
#include "cli/progress_line.h"

namespace rivulon::batch {
namespace {

TEST(BatchOptions, DefaultsAreTheUsualParameters) {
  const ParsedOptions p = parse_options({"genome.fa"});
  ASSERT_EQ(p.error, "");
  const BatchOptions& o = p.options;
  EXPECT_EQ(o.input, "genome.fa");
  EXPECT_EQ(o.match, 2);
  EXPECT_EQ(o.mismatch, 7);
  EXPECT_EQ(o.gap, 7);
  EXPECT_EQ(o.terminal_gap, 3);
  EXPECT_EQ(o.max_motif, 500);
  EXPECT_EQ(o.definition, 3);  // the definition whose calls stand above chance
  EXPECT_EQ(o.min_score, 50);
  EXPECT_EQ(o.overlaps, Overlaps::kBest);
  EXPECT_EQ(o.format, OutputFormat::kTsv);
  EXPECT_EQ(o.mask, MaskStyle::kNone);
}

TEST(BatchOptions, ValuesTakeBothSpellings) {
  const ParsedOptions p = parse_options({"--definition=3", "--min-score", "42", "-t", "3",
                                         "--format=gff3", "--masked-out", "m.fa", "-o", "out",
                                         "--region", "chr1:5-9", "--region=chr2", "g.fa.gz"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.min_score, 42);
  EXPECT_EQ(p.options.threads, 3);
  EXPECT_EQ(p.options.format, OutputFormat::kGff3);
  EXPECT_EQ(p.options.mask, MaskStyle::kSoft);  // --masked-out alone masks softly
  EXPECT_EQ(p.options.output, "out");
  EXPECT_EQ(p.options.regions, (std::vector<std::string>{"chr1:5-9", "chr2"}));
  EXPECT_EQ(p.options.input, "g.fa.gz");
  EXPECT_EQ(p.options.command, "rivulon-batch --definition=3 --min-score 42 -t 3 --format=gff3 --masked-out m.fa -o out "
                               "--region chr1:5-9 --region=chr2 g.fa.gz");

  const ParsedOptions calls = parse_options({"--overlaps=all", "--min-copies", "2.5", "--min-length=30",
                                             "--min-identity", "80", "--min-consensus-score", "60", "my genome's.fa"});
  ASSERT_EQ(calls.error, "");
  EXPECT_EQ(calls.options.overlaps, Overlaps::kAll);
  EXPECT_EQ(calls.options.min_copies, 2.5);
  EXPECT_EQ(calls.options.min_length, 30);
  EXPECT_EQ(calls.options.min_identity, 80);
  EXPECT_EQ(calls.options.min_consensus_score, 60);
  const std::string& command = calls.options.command;
  EXPECT_EQ(command.substr(command.size() - 20), " 'my genome'\\''s.fa'");  // quoted as a shell takes it again
}

TEST(BatchOptions, LevelRangeFollowsTheMatchScore) {
  EXPECT_EQ(parse_options({"--level", "300", "--match", "3", "--definition", "1", "g"}).error, "");
  EXPECT_EQ(parse_options({"--level", "300", "--match", "3", "--definition", "2", "g"}).options.level, 300);
  EXPECT_EQ(parse_options({"--match", "2", "--level", "201", "--definition", "1", "g"}).error,
            "--level must be a whole number from 50 to 100 x match = 200 (got '201')");
  EXPECT_NE(parse_options({"--match", "0", "--definition", "1", "g"}).error, "");
  EXPECT_EQ(parse_options({"--level", "80", "g"}).error,
            "--level applies to definitions 1 and 2; definition 3 takes --min-score");
}

// Every rejected command line names the option (or what is missing) in one line.
TEST(BatchOptions, RejectedCommandLines) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--match", "-1", "g"}, "--match must be a whole number from 0 to 1000000 (got '-1')"},
      {{"--mismatch", "1000001", "g"}, "--mismatch must be a whole number from 0 to 1000000"},
      {{"--gap", "7x", "g"}, "--gap must be"},
      {{"--terminal-gap", "", "g"}, "--terminal-gap must be"},
      {{"--max-motif", "0", "g"}, "--max-motif must be a whole number from 1 to 500"},
      {{"--max-motif", "501", "g"}, "--max-motif must be a whole number from 1 to 500 (got '501')"},
      {{"--definition", "4", "g"}, "--definition must be a whole number from 1 to 3"},
      {{"--definition", "1", "--level", "49", "g"}, "--level must be"},
      {{"--definition", "3", "--min-score", "151", "g"}, "--min-score must be a whole number from 30 to 150"},
      {{"--definition", "3", "--level", "80", "g"}, "--level applies to definitions 1 and 2"},
      {{"--definition", "2", "--min-score", "50", "g"}, "--min-score applies to definition 3"},
      {{"--overlaps", "some", "g"}, "--overlaps must be best or all (got 'some')"},
      {{"--adjacent-copies", "maybe", "g"}, "--adjacent-copies must be yes or no (got 'maybe')"},
      {{"--min-copies", "2.5.1", "g"}, "--min-copies must be a number from 0 to 1000000"},
      {{"--min-copies", "-1", "g"}, "--min-copies must be a number"},
      {{"--min-identity", "101", "g"}, "--min-identity must be a whole number from 0 to 100"},
      {{"--min-length", "x", "g"}, "--min-length must be a whole number"},
      {{"--flanks", "10001", "g"}, "--flanks must be a whole number from 0 to 10000"},
      {{"--control", "0", "g"}, "--control must be a whole number from 1 to 100"},
      {{"--annotation", "", "g"}, "--annotation needs a file name"},
      {{"--threads", "0", "g"}, "--threads must be a whole number from 1 to 1024"},
      {{"--format", "csv", "g"}, "--format must be tsv, bed, gff3, trf-dat or trf-ngs (got 'csv')"},
      {{"--mask", "hard", "g"}, "--mask needs --masked-out FILE"},
      {{"--masked-out", "m", "--mask", "medium", "g"}, "--mask must be soft or hard"},
      {{"--quiet=yes", "g"}, "--quiet takes no value"},
      {{"--frobnicate", "g"}, "unknown option '--frobnicate'"},
      {{"g", "--match"}, "--match needs a value"},
      {{}, "no input file"},
      {{"a.fa", "b.fa"}, "one input file at a time"},
      {{"--region", "chr1", "-"}, "--region needs an indexed file"},
      {{"--match", "99999999999999999999999", "g"}, "--match must be"},
  };
  for (const auto& [args, message] : cases) {
    const std::string error = parse_options(args).error;
    EXPECT_EQ(error.rfind(message, 0), 0u) << "got: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(BatchOptions, HelpAndVersionNeedNoInput) {
  EXPECT_TRUE(parse_options({"--help"}).options.help);
  EXPECT_EQ(parse_options({"-h"}).error, "");
  EXPECT_TRUE(parse_options({"--version"}).options.version);
  EXPECT_EQ(parse_options({"--", "--help"}).options.input, "--help");  // a file named so
}

TEST(Segments, FoldsCaseAndSplitsAtLettersThatAreNoBases) {
  std::string record = "NNacgTTRAnnGGtacXcaT";
  std::vector<Segment> segments = prepare_segments(record.data(), 20, false);
  EXPECT_EQ(record, "NNACGTTRANNGGTACXCAT");
  ASSERT_EQ(segments.size(), 3u);  // "A" between R and N is too short
  EXPECT_EQ(segments[0].start, 2);
  EXPECT_EQ(segments[0].end, 7);
  EXPECT_EQ(segments[1].start, 11);
  EXPECT_EQ(segments[1].end, 16);
  EXPECT_EQ(segments[2].start, 17);
  EXPECT_EQ(segments[2].end, 20);

  std::string kept = "ACgtNacGT";
  segments = prepare_segments(kept.data(), 9, true);
  EXPECT_EQ(kept, "ACgtNacGT");
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].end, 4);
  EXPECT_EQ(segments[1].start, 5);

  std::string none = "NNNN-*.";
  EXPECT_TRUE(prepare_segments(none.data(), 7, false).empty());
  EXPECT_TRUE(prepare_segments(none.data(), 0, false).empty());
}

TEST(Formats, BedScoreIsAShareOfThePerfectRepeat) {
  FoundRepeat r;
  r.start = 10;
  r.end = 30;
  r.value = 1.6;  // similarity level with match 2
  EXPECT_EQ(bed_score(r, 1, 2), 800);
  r.value = 2.0;
  EXPECT_EQ(bed_score(r, 2, 2), 1000);
  r.value = 20;  // score of 20 bases with match 2: at most 40
  EXPECT_EQ(bed_score(r, 3, 2), 500);
  r.value = 400;
  EXPECT_EQ(bed_score(r, 3, 2), 1000);  // clamped
  EXPECT_EQ(bed_score(r, 3, 0), 0);     // no perfect score to compare with
}

TEST(Formats, Gff3SeqidsAreEscaped) {
  EXPECT_EQ(gff3_seqid("chr1"), "chr1");
  EXPECT_EQ(gff3_seqid("gi|9626243|ref|NC_001416.1|"), "gi|9626243|ref|NC_001416.1|");
  EXPECT_EQ(gff3_seqid("a b;c=d%"), "a%20b%3Bc%3Dd%25");
  EXPECT_EQ(gff3_seqid(">x"), "%3Ex");
}

// Record names and motifs go into the page's data unchanged, but can close
// neither the string nor the script element.
TEST(SummaryPage, JsonStringsAreSafeInAScript) {
  EXPECT_EQ(json_string("chr1"), "\"chr1\"");
  EXPECT_EQ(json_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(json_string("</script><b>&"), "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026\"");
  EXPECT_EQ(json_string("tab\there\n"), "\"tab\\u0009here\\u000a\"");
  EXPECT_EQ(json_string("\xc3\xbc"), "\"\xc3\xbc\"");  // UTF-8 passes as it is
}

// A record of `length` bases (ACGT over and over) with repeats of the given
// spans, 10 bases apart; motif length = span / 5.
struct SyntheticRecord {
  FastaRecord record;
  std::vector<FoundRepeat> repeats;
};
SyntheticRecord synthetic(const char* name, int64_t length, const std::vector<int64_t>& spans) {
  SyntheticRecord s;
  s.record.name = name;
  s.record.length = s.record.record_length = length;
  s.record.bases.reset(static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1)));
  for (int64_t i = 0; i <= length; ++i) s.record.bases.get()[i] = i < length ? "ACGT"[i % 4] : '\0';
  for (int64_t at = 0; int64_t span : spans) {
    FoundRepeat r{.start = at, .end = at + span, .motif_start = at, .motif_length = static_cast<int32_t>(span / 5),
                  .units = 5, .value = 1.8, .definition = 1, .units_text = "5", .value_text = "1.80"};
    s.repeats.push_back(r);
    at = r.end + 10;
  }
  return s;
}

std::string page_of(const SummaryPage& page) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  page.write(out);
  std::fclose(out);
  const std::string written(text, size);
  std::free(text);
  return written;
}

// The rows of a page, "record index:start-end".
std::vector<std::string> rows_of(const std::string& page) {
  std::vector<std::string> rows;
  size_t record = 0;
  long long start = 0, end = 0;
  for (size_t at = page.find("\"rows\":[\n") + 9;
       std::sscanf(page.c_str() + at, "[%zu,%lld,%lld,", &record, &start, &end) == 3; at = page.find('\n', at) + 1) {
    rows.push_back(std::to_string(record) + ":" + std::to_string(start) + "-" + std::to_string(end));
  }
  return rows;
}

// Over its limits the table keeps the longest repeats (then the higher
// valued, then the earlier) and the records table the records with the most
// repeats; the totals, the other records' line and the histogram count all.
TEST(SummaryPage, KeepsTheLongestRowsAndCountsEverything) {
  BatchOptions options;
  auto page_with = [&options](SummaryLimits limits) {
    SummaryPage page(options, limits);
    const std::vector<std::vector<int64_t>> spans = {{10, 20}, {5, 5, 5, 5}, {100}, {20, 20, 20}, {}, {60, 20}};
    for (size_t i = 0; i < spans.size(); ++i) {
      const char name[] = {'r', static_cast<char>('0' + i), '\0'};
      SyntheticRecord s = synthetic(name, 1000, spans[i]);
      if (i == 5) s.repeats[1].value = 1.9;  // above the earlier repeats of 20 bases
      page.add(s.record, s.repeats, {}, {});
    }
    return page_of(page);
  };
  const std::string all = page_with({}), cut = page_with({.rows = 5, .records = 2, .motif_letters = 100});
  for (const std::string& page : {all, cut}) {
    EXPECT_NE(page.find("<p>6 records, 6000 bases; 12 repeats covering 290 bases.</p>"), std::string::npos);
    EXPECT_NE(page.find("\"lengths\":[[1,4],[2,1],[4,5],[12,1],[20,1]]"), std::string::npos);
  }
  EXPECT_EQ(rows_of(all).size(), 12u);
  EXPECT_NE(all.find("\"others\":null"), std::string::npos);
  EXPECT_EQ(all.find("-cut\""), std::string::npos);  // no note of a cut

  EXPECT_EQ(rows_of(cut), (std::vector<std::string>{"0:21-40", "2:1-100", "3:1-20", "4:1-60", "4:71-90"}));
  EXPECT_NE(cut.find("\"records\":[{\"name\":\"r0\",\"length\":1000,\"repeats\":2,\"covered\":30,\"listed\":false},"
                     "{\"name\":\"r1\",\"length\":1000,\"repeats\":4,\"covered\":20,\"listed\":true},"
                     "{\"name\":\"r2\",\"length\":1000,\"repeats\":1,\"covered\":100,\"listed\":false},"
                     "{\"name\":\"r3\",\"length\":1000,\"repeats\":3,\"covered\":60,\"listed\":true},"
                     "{\"name\":\"r5\",\"length\":1000,\"repeats\":2,\"covered\":80,\"listed\":false}],"
                     "\"others\":{\"records\":4,\"length\":4000,\"repeats\":5,\"covered\":210}"),
            std::string::npos);
  EXPECT_NE(cut.find("Showing the 5 longest of 12 repeats"), std::string::npos);
  EXPECT_NE(cut.find("the 2 records with the most repeats, in input order; the last line sums the other 4."),
            std::string::npos);
}

// However many records and repeats, the page stays about the same size;
// the default limits, and motifs cut to their first letters.
TEST(SummaryPage, SizeStaysBounded) {
  BatchOptions options;
  auto page_for = [&options](int records, SummaryLimits limits) {
    SummaryPage page(options, limits);
    const SyntheticRecord wide = synthetic("wide", 2000, {750});  // motif length 150
    page.add(wide.record, wide.repeats, {}, {});
    const SyntheticRecord s = synthetic("read", 2200, std::vector<int64_t>(70, 20));
    for (int i = 0; i < records; ++i) page.add(s.record, s.repeats, {}, std::vector<std::string>(70, "align_x.html#1"));
    return page_of(page);
  };
  const SummaryLimits small{.rows = 200, .records = 20, .motif_letters = 100};
  EXPECT_LT(page_for(4000, small).size(), page_for(1000, small).size() + 100);

  const std::string page = page_for(1500, {});
  EXPECT_NE(page.find("Showing the 100,000 longest of 105,001 repeats"), std::string::npos);
  EXPECT_NE(page.find("the 1,000 records with the most repeats"), std::string::npos);
  std::string motif;
  for (int i = 0; i < 25; ++i) motif += "ACGT";
  EXPECT_NE(page.find("\"" + motif + "\xe2\x80\xa6\""), std::string::npos);
  EXPECT_NE(page.find("id=\"motifs-cut\""), std::string::npos);
}

TEST(Progress, LineNamesRecordShareAndTimes) {
  ProgressSnapshot s{"chr2", 250, 1000, true};
  EXPECT_EQ(progress_line(s, 30), "chr2  25.0% of 1.0 kb  0:00:30 elapsed  about 0:01:30 left");
  EXPECT_EQ(progress_line(s, 4), "chr2  25.0% of 1.0 kb  0:00:04 elapsed");  // too early to tell
  s = {"chr2", 0, 4.2e6, false};
  EXPECT_EQ(progress_line(s, 3725), "chr2  0.0% of ~4.2 Mb  1:02:05 elapsed");
  s.done = 5e6;  // past the estimated size: not done before the size is known
  EXPECT_EQ(progress_line(s, 3).substr(0, 17), "chr2  99.9% of ~4");
  EXPECT_EQ(progress_line({"", 0, 0, false}, 0), "reading  0.0% of ~0 b  0:00:00 elapsed");
  EXPECT_EQ(progress_line({"a\tb\033[2J", 0, 10, true}, 0), "a?b?[2J  0.0% of 10 b  0:00:00 elapsed");
}

// On gzip input the size is estimated as it is read and may grow: the share
// shown holds until the work passes it.
TEST(Progress, ShareNeverGoesBack) {
  ProgressMeter meter;
  std::string shares;
  for (const auto& [done, total, known] : std::vector<std::tuple<double, double, bool>>{
           {457, 1000, false}, {457, 1266, false}, {500, 1266, false}, {700, 1266, true}, {1266, 1266, true}}) {
    shares += meter.line({"c", done, total, known}, 10, 79).substr(2, 7);
  }
  EXPECT_EQ(shares, " 45.7%  45.7%  45.7%  55.3%  100.0%");
}

// The line never takes more than its columns: the record's name is cut
// first (between UTF-8 characters), then the time left and the time elapsed
// are left out.
TEST(Progress, FitsTheWidthCuttingTheNameFirst) {
  const ProgressSnapshot s{std::string(100, 'n'), 250, 1000, true};
  const std::string rest = "  25.0% of 1.0 kb  0:00:30 elapsed  about 0:01:30 left";
  EXPECT_EQ(progress_line(s, 30, 79), std::string(79 - rest.size() - 3, 'n') + "..." + rest);
  EXPECT_EQ(progress_line(s, 30, 50), std::string(13, 'n') + "...  25.0% of 1.0 kb  0:00:30 elapsed");
  EXPECT_EQ(progress_line(s, 30, 40), std::string(20, 'n') + "...  25.0% of 1.0 kb");
  EXPECT_EQ(progress_line({"chr1", 250, 1000, true}, 30, 40), "chr1  25.0% of 1.0 kb  0:00:30 elapsed");
  for (int columns = 0; columns <= 100; ++columns) EXPECT_LE(progress_line(s, 30, columns).size(), size_t(columns));
  EXPECT_EQ(cli::fit_to_width("a\xc3\xbc\xe2\x80\xa6z", 3), "a\xc3\xbc\xe2\x80\xa6");
  EXPECT_EQ(cli::fit_to_width("a\xc3\xbc\xe2\x80\xa6z", 2), "a\xc3\xbc");
}

TEST(Progress, FinalLineSaysWhatWasFoundAndWhere) {
  EXPECT_EQ(final_line(1234, 8, 0, {"out.tsv", "out.bed"}),
            "rivulon-batch: 1,234 repeats in 8 records; written to out.tsv, out.bed");
  EXPECT_EQ(final_line(1, 1, 0, {"-"}), "rivulon-batch: 1 repeat in 1 record; written to standard output");
  EXPECT_EQ(final_line(0, 1234567, 2, {"", "m.fa"}),
            "rivulon-batch: no repeats in 1,234,567 records (2 stretches not examined); "
            "written to standard output, m.fa");
}

// Written on a terminal of 40 columns, and on a file (taken as 80), each
// update is cut to the width less one, so that it never wraps.
TEST(ProgressLine, CutToTheTerminalWidth) {
  winsize size{};
  size.ws_col = 40;
  int terminal = -1, side = -1;
  ASSERT_EQ(openpty(&terminal, &side, nullptr, nullptr, &size), 0);
  std::FILE* out = fdopen(side, "w");
  int asked = -1;
  {
    cli::ProgressLine line(out, [&asked](double, int columns) {
      asked = columns;
      return std::string(200, 'x');
    });
  }
  std::fclose(out);
  char shown[256];
  const ssize_t got = read(terminal, shown, sizeof shown);
  close(terminal);
  EXPECT_EQ(asked, 39);
  EXPECT_EQ(std::string(shown, static_cast<size_t>(std::max<ssize_t>(got, 0))),
            "\r\033[K" + std::string(39, 'x') + "\r\033[K");

  std::FILE* file = std::tmpfile();
  { cli::ProgressLine line(file, [](double) { return std::string(200, 'y'); }); }
  std::string written(256, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_EQ(written, "\r\033[K" + std::string(79, 'y') + "\r\033[K");
}

// The time left, looked at every half second of a run whose share done is share(t).
template <typename Share>
double remaining_after(double seconds, Share share, cli::RemainingTime& remaining) {
  double left = -1;
  for (int i = 0; i <= static_cast<int>(seconds * 2); ++i) left = remaining.update(share(i / 2.0), i / 2.0);
  return left;
}

TEST(ProgressEstimate, NoneTooEarlyThenFollowsThePaceGradually) {
  auto steady = [](double t) { return t / 100; };
  cli::RemainingTime a, b, c, d, e, f;
  EXPECT_LT(remaining_after(4.5, steady, a), 0);                              // not before 5 s
  EXPECT_LT(remaining_after(20, [](double t) { return t / 4000; }, b), 0);  // nor before 1%
  EXPECT_NEAR(remaining_after(50, steady, c), 50, 1e-6);
  EXPECT_LT(remaining_after(100, steady, f), 0);  // done
  // Half the work in 50 s, then at half the pace: 50 s are left at 100 s,
  // where the pace of the whole run would say 33 s (the estimate, eased in, lags a little).
  EXPECT_NEAR(remaining_after(100, [](double t) { return t <= 50 ? t / 100 : 0.5 + (t - 50) / 200; }, d), 50, 4);
  // A jump in the share (the input's size was overestimated) moves the
  // estimate only part of the way (70 s before; 14 s at the pace since).
  EXPECT_NEAR(remaining_after(30, steady, e), 70, 1e-6);
  const double left = e.update(0.6, 30.5);
  EXPECT_LT(left, 69.5);
  EXPECT_GT(left, 50);
}

TEST(ProgressWorkShare, ShortMotifsWeighMore) {
  for (int32_t definition : {1, 2, 3}) {
    auto share = [definition](int32_t done, int32_t M) { return cli::motif_work_share(done, M, definition); };
    EXPECT_EQ(share(0, 500), 0.0);
    EXPECT_EQ(share(700, 500), 1.0);
    EXPECT_EQ(share(3, 0), 0.0);
    for (int32_t done = 1; done <= 500; ++done) EXPECT_GT(share(done, 500), share(done - 1, 500));
    EXPECT_GT(share(20, 500), 0.075);  // far more than 20 / 500
    // A length costs the same whatever the longest examined.
    EXPECT_DOUBLE_EQ(share(50, 200), share(50, 100) * share(100, 200));
  }
}

}  // namespace
}  // namespace rivulon::batch
