// The batch program's parts that need no process: the command line, the
// splitting of records, the output cells and the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/formats.h"
#include "batch/options.h"
#include "batch/progress.h"
#include "batch/segments.h"
#include "batch/summary_page.h"

namespace rivulon::batch {
namespace {

TEST(BatchOptions, DefaultsAreTheUsualParameters) {
  const ParsedOptions p = parse_options({"genome.fa"});
  ASSERT_EQ(p.error, "");
  const BatchOptions& o = p.options;
  EXPECT_EQ(o.input, "genome.fa");
  EXPECT_EQ(o.scoring().match, 2);
  EXPECT_EQ(o.scoring().mismatch, -7);
  EXPECT_EQ(o.scoring().gap, -7);
  EXPECT_EQ(o.scoring().terminal_gap, -3);
  EXPECT_EQ(o.max_motif, 500);
  EXPECT_EQ(o.definition, 1);
  EXPECT_EQ(o.threshold(), 80 * 0.01);  // the console program's level x 0.01, same bits
  EXPECT_EQ(o.format, OutputFormat::kTsv);
  EXPECT_EQ(o.mask, MaskStyle::kNone);
}

TEST(BatchOptions, ValuesTakeBothSpellings) {
  const ParsedOptions p = parse_options({"--definition=3", "--min-score", "42", "-t", "3",
                                         "--format=gff3", "--masked-out", "m.fa", "-o", "out",
                                         "--region", "chr1:5-9", "--region=chr2", "g.fa.gz"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.threshold(), 42.0);
  EXPECT_EQ(p.options.threads, 3);
  EXPECT_EQ(p.options.format, OutputFormat::kGff3);
  EXPECT_EQ(p.options.mask, MaskStyle::kSoft);  // --masked-out alone masks softly
  EXPECT_EQ(p.options.output, "out");
  EXPECT_EQ(p.options.regions, (std::vector<std::string>{"chr1:5-9", "chr2"}));
  EXPECT_EQ(p.options.input, "g.fa.gz");
}

TEST(BatchOptions, LevelRangeFollowsTheMatchScore) {
  EXPECT_EQ(parse_options({"--level", "300", "--match", "3", "g"}).error, "");
  EXPECT_EQ(parse_options({"--level", "300", "--match", "3", "g"}).options.threshold(), 300 * 0.01);
  EXPECT_EQ(parse_options({"--match", "2", "--level", "201", "g"}).error,
            "--level must be a whole number from 50 to 100 x match = 200 (got '201')");
  EXPECT_NE(parse_options({"--match", "0", "g"}).error, "");
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
      {{"--level", "49", "g"}, "--level must be"},
      {{"--definition", "3", "--min-score", "151", "g"}, "--min-score must be a whole number from 30 to 150"},
      {{"--definition", "3", "--level", "80", "g"}, "--level applies to definitions 1 and 2"},
      {{"--min-score", "50", "g"}, "--min-score applies to definition 3"},
      {{"--threads", "0", "g"}, "--threads must be a whole number from 1 to 1024"},
      {{"--format", "csv", "g"}, "--format must be tsv, bed or gff3 (got 'csv')"},
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

TEST(Progress, LineNamesRecordShareAndTimes) {
  ProgressSnapshot s{"chr2", 250, 1000, true};
  EXPECT_EQ(progress_line(s, 30), "chr2  25.0% of 1.0 kb  0:00:30 elapsed  about 0:01:30 left");
  s.total_known = false;
  s.total = 4.2e6;
  s.done = 0;
  EXPECT_EQ(progress_line(s, 3725), "chr2  0.0% of ~4.2 Mb  1:02:05 elapsed");
  s.record = std::string(40, 'x');
  EXPECT_EQ(progress_line(s, 0).substr(0, 32), std::string(27, 'x') + "...  ");
}

}  // namespace
}  // namespace rivulon::batch
