#include "report/coding_regions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace rivulon {
namespace {

CodingRegionTable scan(const std::string& text) {
  std::FILE* f = testing::stream_of(text);
  CodingRegionTable t = scan_coding_regions(f);
  std::fclose(f);
  return t;
}

TEST(ScanCodingRegions, FeatureTableEntries) {
  CodingRegionTable t = scan(
      "     CDS             <1..206\n                     /gene=\"abcA\"\n"
      "     CDS             complement(330..403)\n                     /gene=\"abcD\"\n"
      "     CDS             join(12..78,90..120)\n                     /product=\"hypothetical protein\"\n");
  ASSERT_EQ(t.count, 3);
  EXPECT_EQ(t.regions[0].start, 1);
  EXPECT_EQ(t.regions[0].end, 206);
  EXPECT_STREQ(t.regions[0].name, "abcA");
  EXPECT_EQ(t.regions[1].start, 330);
  EXPECT_EQ(t.regions[1].end, 403);
  EXPECT_STREQ(t.regions[1].name, "abcD");
  EXPECT_EQ(t.regions[2].start, 12);
  EXPECT_EQ(t.regions[2].end, 78);
  EXPECT_STREQ(t.regions[2].name, "hypothetica");  // first word, cut to 11 characters
}

TEST(ScanCodingRegions, FoundInsideWordsButNotInLowerCase) {
  EXPECT_EQ(scan("xxCDSyy 5..9 \"a\" cds 7..8 \"b\"").count, 1);
  EXPECT_EQ(scan("no entries at all").count, 0);
}

TEST(ScanCodingRegions, NameWithLineEndsDoesNotShiftLaterEntries) {
  CodingRegionTable t = scan("CDS 1..10 /product=\"\n  long wrapped\nname\" CDS 20..30 \"x\" CDS 40..50 \"\"");
  ASSERT_EQ(t.count, 3);
  EXPECT_STREQ(t.regions[0].name, "long");
  EXPECT_EQ(t.regions[1].start, 20);
  EXPECT_STREQ(t.regions[1].name, "x");
  EXPECT_STREQ(t.regions[2].name, "");
}

TEST(ScanCodingRegions, PartialEndMarkerSkipped) {
  CodingRegionTable t = scan("CDS 1..>206 \"a\" CDS 3..<9 \"b\" CDS 4..x \"c\"");
  ASSERT_EQ(t.count, 2);  // an empty end makes the third entry unusable
  EXPECT_EQ(t.regions[0].end, 206);
  EXPECT_EQ(t.regions[1].end, 9);
}

TEST(ScanCodingRegions, UnfinishedOrOversizedEntriesNotCounted) {
  EXPECT_EQ(scan("CDS 1..9 \"a\" CDS 12").count, 1);
  EXPECT_EQ(scan("CDS 1..9 \"a\" CDS 12..").count, 1);
  EXPECT_EQ(scan("CDS 1..9 \"a\" CDS 12..14 \"unfinished").count, 1);
  EXPECT_EQ(scan("CDS 99999999999..9 \"a\" CDS 1..99999999999 \"b\" CDS 1..2 \"c\"").count, 1);
}

std::vector<Repeat> starting_at(std::initializer_list<int64_t> starts) {
  std::vector<Repeat> repeats;
  for (int64_t at : starts) repeats.push_back(Repeat{at, at + 6, at, 3, 2, 1, 1, "2", "1.00"});
  return repeats;
}

TEST(CodingRegionNames, ForwardCursorOneStepPerPosition) {
  CodingRegionTable t = scan("CDS 100..200 \"first\" CDS 300..400 \"second\"");
  EXPECT_EQ(coding_region_names(t, starting_at({99, 100, 100, 200, 350}), 450),
            (std::vector<std::string>{"noncoding", "first", "first", "noncoding",  // 200 judged against the next region
                                      "second"}));
}

TEST(CodingRegionNames, OverlappingRegionsAndLongNames) {
  CodingRegionTable t = scan("CDS 10..50 \"outerregionname\" CDS 20..30 \"inner\"");
  EXPECT_EQ(coding_region_names(t, starting_at({25}), 60), std::vector<std::string>{"outerregi"});  // 9 characters at most
}

}  // namespace
}  // namespace rivulon
