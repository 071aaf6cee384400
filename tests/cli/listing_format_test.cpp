// The listing's table, its JSON and the progress line.
#include "listing_format.h"
#include "progress.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tvx::cli {
namespace {

// Dated 2021-06-15 12:34:56 here, whatever the zone.
ArchiveEntry Entry(const std::string& name, int64_t size, int64_t packed) {
  const int time = static_cast<int>(test::LocalTime(2021, 6, 15, 12, 34, 56));
  return {name, name, CanonicalKey(kPosixDialect, name), size, packed, time, name.back() == '/'};
}

// A lone Latin-1 byte, a cut sequence, and sequences well-formed in shape but
// not UTF-8 (surrogate, overlong, above U+10FFFF) are escaped instead of
// breaking the document.
TEST(CliJson, EscapesQuotesControlsAndBrokenUtf8AndListsEntriesAndTotalsAlsoWhenEmpty) {
  const std::pair<const char*, const char*> strings[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""}, {"tab\there\n", "\"tab\\u0009here\\u000a\""},
      {"gr\xC3\xBC\xC3\x9F", "\"gr\xC3\xBC\xC3\x9F\""}, {"caf\xE9", "\"caf\\u00e9\""},
      {"\xE2\x82", "\"\\u00e2\\u0082\""}, {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""}, {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""}};
  for (const auto& [text, json] : strings) EXPECT_EQ(JsonString(text), json) << text;
  EXPECT_EQ(FormatListingJson(kPosixDialect, {Entry("docs/", 0, 0), Entry("docs/a \"q\".txt", 100, 40)}),
            "{\"entries\": [\n"
            "  {\"name\": \"docs/\", \"size\": 0, \"packed\": 0, \"time\": \"2021-06-15T12:34:56\", \"dir\": true, "
            "\"stored\": false, \"name_hex\": \"646f63732f\"},\n"
            "  {\"name\": \"docs/a \\\"q\\\".txt\", \"size\": 100, \"packed\": 40, \"time\": \"2021-06-15T12:34:56\", "
            "\"dir\": false, \"stored\": false, \"name_hex\": \"646f63732f61202271222e747874\"}\n"
            "],\n \"totals\": {\"files\": 1, \"folders\": 1, \"size\": 100, \"packed\": 40}}\n");
  EXPECT_EQ(FormatListingJson(kPosixDialect, {}),
            "{\"entries\": [],\n \"totals\": {\"files\": 0, \"folders\": 0, \"size\": 0, \"packed\": 0}}\n");
}

// The ratio is the packed share of the size; the progress line fits the width,
// keeps the name's end and never passes the total.
TEST(CliTable, TableAndProgressLine) {
  EXPECT_EQ(FormatListingTable(kPosixDialect, {Entry("a.txt", 200, 50), Entry("b/", 0, 0)}),
            "        Size       Packed   Ratio  Date       Time   Name\n"
            "------------ ------------ -------  ----------------  --------------------\n"
            "         200           50   25.0%  2021-06-15 12:34  a.txt\n"
            "           0            0       -  2021-06-15 12:34  b/\n"
            "------------ ------------ -------  ----------------  --------------------\n"
            "         200           50   25.0%                    1 file, 1 folder\n");
  EXPECT_EQ(FormatRatio(0, 0), "-");
  EXPECT_EQ(FormatProgressLine(512, 1024, 1.0, "very/long/folder/name/that/does/not/fit/the/terminal/file.txt", 80),
            "[##########          ]  50%  512 B/1.0 KiB  512 B/s  ...it/the/terminal/file.txt");
  EXPECT_EQ(FormatProgressLine(5000, 1000, 0.0, "x", 120), "[####################] 100%  1000 B/1000 B  0 B/s  x");
  EXPECT_EQ(FormatBytes(1536) + " " + FormatBytes(1023), "1.5 KiB 1023 B");
}

}  // namespace
}  // namespace tvx::cli
