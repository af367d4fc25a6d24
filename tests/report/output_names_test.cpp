#include "report/output_names.h"

#include <gtest/gtest.h>

#include "report/escape.h"

namespace rivulon {
namespace {

TEST(MakeOutputName, CutsOnlyTheLastExtension) {
  EXPECT_EQ(make_output_name("atr_", "seq.fa", ".html"), "atr_seq.html");
  EXPECT_EQ(make_output_name("align_", "seq.fa", ".html"), "align_seq.html");
  EXPECT_EQ(make_output_name("atr_", "seq.fa", ".txt"), "atr_seq.txt");
  EXPECT_EQ(make_output_name("atr_", "a.b.fa", ".html"), "atr_a.b.html");
}

TEST(MakeOutputName, DirectoryDroppedAndNoLengthLimit) {
  EXPECT_EQ(make_output_name("atr_", "data/dir.v2/seq.fa", ".html"), "atr_seq.html");
  EXPECT_EQ(make_output_name("atr_", "/abs/plain", ".html"), "atr_plain.html");
  const std::string long_name(200, 'x');
  EXPECT_EQ(make_output_name("atr_", long_name + ".fa", ".txt"), "atr_" + long_name + ".txt");
}

TEST(MakeOutputName, NameWithoutDotKeepsItsWholeName) {
  EXPECT_EQ(make_output_name("atr_", "sequence", ".html"), "atr_sequence.html");
  EXPECT_EQ(make_output_name("atr_", ".hidden", ".html"), "atr_.html");
}

}  // namespace
}  // namespace rivulon

namespace rivulon {
namespace {

TEST(Escaping, OrdinaryNamesUnchangedEverythingElseEncoded) {
  EXPECT_EQ(url_escape("atr_Seq-1.v2~x.html"), "atr_Seq-1.v2~x.html");
  EXPECT_EQ(url_escape("a#b ?%\xc3\xa9\"<>&'/:\x01"), "a%23b%20%3F%25%C3%A9%22%3C%3E%26%27%2F%3A%01");
  EXPECT_EQ(html_escape("noncoding"), "noncoding");
  EXPECT_EQ(html_escape("<!--a&b\"c'd>"), "&lt;!--a&amp;b&quot;c&#39;d&gt;");
}

}  // namespace
}  // namespace rivulon
