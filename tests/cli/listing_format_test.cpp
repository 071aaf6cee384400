// The listing's table, its JSON and the progress line.
#include "listing_format.h"
#include "progress.h"

#include <gtest/gtest.h>

namespace tvx::cli {
namespace {

ArchiveEntry Entry(const std::string& name, int64_t size, int64_t packed, bool dir) {
  ArchiveEntry e;
  e.reported = e.name = name;
  e.key = CanonicalKey(kPosixDialect, name);
  e.size = size;
  e.packed = packed;
  e.directory = dir;
  e.fileTime = 0;
  return e;
}

TEST(CliJson, EscapesQuotesControlsAndBrokenUtf8) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("tab\there\n"), "\"tab\\u0009here\\u000a\"");
  EXPECT_EQ(JsonString("gr\xC3\xBC\xC3\x9F"), "\"gr\xC3\xBC\xC3\x9F\"");
  // A lone Latin-1 byte is not UTF-8; it is escaped instead of breaking the document.
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\u00e9\"");
  EXPECT_EQ(JsonString("\xE2\x82"), "\"\\u00e2\\u0082\"");
  // Well-formed in shape but not UTF-8: surrogate, overlong, above U+10FFFF.
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(JsonString("\xE0\x80\xAF"), "\"\\u00e0\\u0080\\u00af\"");
  EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
  EXPECT_EQ(JsonString("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");
}

TEST(CliJson, ListingHasEntriesAndTotalsAlsoWhenEmpty) {
  const std::string json = FormatListingJson(
      kPosixDialect, {Entry("docs/", 0, 0, true), Entry("docs/a \"q\".txt", 100, 40, false)});
  EXPECT_NE(json.find("{\"name\": \"docs/\", \"size\": 0, \"packed\": 0, \"time\": "), std::string::npos);
  EXPECT_NE(json.find("\"dir\": true"), std::string::npos);
  EXPECT_NE(json.find("\"name\": \"docs/a \\\"q\\\".txt\", \"size\": 100, \"packed\": 40"), std::string::npos);
  EXPECT_NE(json.find("\"totals\": {\"files\": 1, \"folders\": 1, \"size\": 100, \"packed\": 40}"),
            std::string::npos);
  // An empty archive is still an object.
  EXPECT_EQ(FormatListingJson(kPosixDialect, {}),
            "{\"entries\": [],\n \"totals\": {\"files\": 0, \"folders\": 0, \"size\": 0, \"packed\": 0}}\n");
}

TEST(CliTable, RatioIsPackedShareOfSize) {
  EXPECT_EQ(FormatRatio(200, 50), "25.0%");
  EXPECT_EQ(FormatRatio(0, 0), "-");
  const std::string table =
      FormatListingTable(kPosixDialect, {Entry("a.txt", 200, 50, false), Entry("b/", 0, 0, true)});
  EXPECT_NE(table.find("a.txt\n"), std::string::npos);
  EXPECT_NE(table.find("1 file, 1 folder"), std::string::npos);
  EXPECT_NE(table.find("25.0%"), std::string::npos);
}

TEST(CliProgress, LineFitsTheWidthKeepsTheNameEndAndNeverPassesTheTotal) {
  const std::string name = "very/long/folder/name/that/does/not/fit/the/terminal/file.txt";
  const std::string line = FormatProgressLine(512, 1024, 1.0, name, 80);
  EXPECT_EQ(line.size(), 80u);
  EXPECT_EQ(line.substr(line.size() - 8), "file.txt");
  EXPECT_NE(line.find("..."), std::string::npos);
  EXPECT_NE(line.find(" 50%"), std::string::npos);
  EXPECT_EQ(line.substr(0, 12), "[########## ");
  // Never more than the total.
  const std::string over = FormatProgressLine(5000, 1000, 0.0, "x", 120);
  EXPECT_NE(over.find("100%"), std::string::npos);
  EXPECT_EQ(over.find("4.9 KiB/"), std::string::npos);
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
}

}  // namespace
}  // namespace tvx::cli
