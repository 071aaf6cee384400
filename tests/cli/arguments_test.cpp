// The command line as users type it.
#include "arguments.h"

#include <gtest/gtest.h>

namespace tvx::cli {
namespace {

ParsedArguments Parse(std::vector<std::string> args) { return ParseArguments(args); }

TEST(CliArguments, OptionsMayStandBeforeOrAfterTheCommand) {
  const ParsedArguments p = Parse({"--quiet", "extract", "a.tvx", "-C", "out", "docs", "--overwrite",
                                   "--plugin=/x/Tolvex.wcx"});
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(p.options.command, Command::kExtract);
  EXPECT_EQ(p.options.operands, (std::vector<std::string>{"a.tvx", "docs"}));
  EXPECT_EQ(p.options.directory, "out");
  EXPECT_EQ(p.options.plugin, "/x/Tolvex.wcx");
  EXPECT_TRUE(p.options.quiet);
  EXPECT_TRUE(p.options.overwrite);
}

TEST(CliArguments, AddTakesMoveAndInto) {
  const ParsedArguments p = Parse({"add", "a.tvx", "x", "y", "--move", "--into", "sub/dir"});
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_TRUE(p.options.move);
  EXPECT_EQ(p.options.into, "sub/dir");
  EXPECT_EQ(p.options.operands.size(), 3u);
}

TEST(CliArguments, DoubleDashEndsOptions) {
  const ParsedArguments p = Parse({"delete", "a.tvx", "--", "--json"});
  ASSERT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(p.options.operands, (std::vector<std::string>{"a.tvx", "--json"}));
  EXPECT_FALSE(p.options.json);
}

TEST(CliArguments, HelpInEveryForm) {
  EXPECT_EQ(Parse({"--help"}).options.command, Command::kHelp);
  EXPECT_EQ(Parse({"--help"}).options.helpTopic, "");
  EXPECT_EQ(Parse({"help", "add"}).options.helpTopic, "add");
  const ParsedArguments p = Parse({"add", "--help"});
  EXPECT_TRUE(p.error.empty());
  EXPECT_EQ(p.options.command, Command::kHelp);
  EXPECT_EQ(p.options.helpTopic, "add");
  EXPECT_EQ(Parse({"list", "-V"}).options.command, Command::kVersion);
}

TEST(CliArguments, UsageErrorsAndOptionsOfOtherCommandsAreReported) {
  EXPECT_NE(Parse({}).error, "");
  EXPECT_NE(Parse({"frobnicate", "a.tvx"}).error, "");
  EXPECT_NE(Parse({"list"}).error, "");
  EXPECT_NE(Parse({"list", "a.tvx", "b.tvx"}).error, "");
  EXPECT_NE(Parse({"add", "a.tvx"}).error, "");
  EXPECT_NE(Parse({"delete", "a.tvx"}).error, "");
  EXPECT_NE(Parse({"list", "a.tvx", "--bogus"}).error, "");
  EXPECT_NE(Parse({"extract", "a.tvx", "-C"}).error, "");
  EXPECT_EQ(Parse({"list", "a.tvx", "--quiet=yes"}).error, "option --quiet takes no value");
  EXPECT_EQ(Parse({"extract", "a.tvx", "--directory="}).error, "option -C needs a folder");
  EXPECT_EQ(Parse({"extract", "a.tvx", "-C=out"}).error, "unknown option: -C=out");
  for (std::vector<std::string> args : {std::vector<std::string>{"add", "", "x"}, {"add", "a.tvx", ""}, {"list", ""},
                                        {"delete", "a.tvx", ""}, {"extract", "a.tvx", "x", ""}, {"add", "a", "x", "--into="},
                                        {"test", "a.tvx", "--plugin", ""}})
    EXPECT_NE(Parse(args).error, "") << testing::PrintToString(args);
  // Options of other commands.
  EXPECT_EQ(Parse({"test", "a.tvx", "--json"}).error, "");
  EXPECT_EQ(Parse({"test", "a.tvx", "--move"}).error, "option --move does not apply to test");
  EXPECT_NE(Parse({"add", "a.tvx", "x", "--json"}).error, "");
  EXPECT_NE(Parse({"list", "a.tvx", "--move"}).error, "");
  EXPECT_NE(Parse({"test", "a.tvx", "-C", "out"}).error, "");
  EXPECT_NE(Parse({"extract", "a.tvx", "--into", "x"}).error, "");
}

}  // namespace
}  // namespace tvx::cli
