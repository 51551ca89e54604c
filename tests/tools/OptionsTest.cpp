// dravrun's command line: every option, and one test per bad option that
// checks the message names it.
#include <gtest/gtest.h>

#include "tools/dravrun/Options.h"

namespace dravrun {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseOptions(args); }

TEST(DravrunOptions, DefaultsAreCsvOnePassEveryCase) {
  const ParsedOptions p = Parse({});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.output, OutputFormat::kCsv);
  EXPECT_EQ(p.options.passes, 1);
  EXPECT_EQ(p.options.seek, -1);
  EXPECT_EQ(p.options.limit, -1);
  EXPECT_EQ(p.options.progress, ProgressMode::kAuto);
  EXPECT_FALSE(p.options.haveCommand);
}

TEST(DravrunOptions, ReadsEveryOptionInBothSpellings) {
  const ParsedOptions p = Parse({"--plugin", "/x/p.so", "--catalogs=/c", "--output=table", "--dictionary",
                                 "--summary", "--passes", "3", "--seek=7", "--limit", "0", "--no-progress"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.plugin, "/x/p.so");
  EXPECT_EQ(p.options.catalogs, "/c");
  EXPECT_EQ(p.options.output, OutputFormat::kTable);
  EXPECT_TRUE(p.options.dictionary);
  EXPECT_TRUE(p.options.summary);
  EXPECT_EQ(p.options.passes, 3);
  EXPECT_EQ(p.options.seek, 7);
  EXPECT_EQ(p.options.limit, 0);
  EXPECT_EQ(p.options.progress, ProgressMode::kOff);
  EXPECT_EQ(Parse({"-f", "cmd.txt"}).options.commandFile, "cmd.txt");
  EXPECT_EQ(Parse({"--progress"}).options.progress, ProgressMode::kOn);
  EXPECT_TRUE(Parse({"-h"}).options.help);
  EXPECT_TRUE(Parse({"--version"}).options.version);
}

TEST(DravrunOptions, CommandWordsAreJoinedAndMayLookLikeOptions) {
  ParsedOptions p = Parse({"--limit", "2", "GET", "DATA", "/TYPE=STREAM", "/VARIABLES", "=", "a", "-5"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.haveCommand);
  EXPECT_EQ(p.options.command, "GET DATA /TYPE=STREAM /VARIABLES = a -5");
  p = Parse({"--", "--not-an-option"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.command, "--not-an-option");
}

TEST(DravrunOptions, EachBadOptionIsNamedInItsMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--output", "xml"}, "--output: expects csv, tsv, jsonl, table, markdown, raw or none, not 'xml'"},
      {{"--passes", "0"}, "--passes: expects a whole number of 1 or more, not '0'"},
      {{"--passes=-1"}, "--passes: expects a whole number of 1 or more, not '-1'"},
      {{"--seek", "x"}, "--seek: expects a case number of 0 or more, not 'x'"},
      {{"--limit", "5k"}, "--limit: expects a whole number of 0 or more, not '5k'"},
      {{"--limit", "99999999999999999999999"}, "--limit: expects a whole number of 0 or more, not '99999999999999999999999'"},
      {{"--plugin"}, "--plugin: needs a value"},
      {{"--summary=yes"}, "--summary: takes no value"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"-f", "x", "GET DATA"}, "-f: give the command either as an argument or with -f, not both"},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = Parse(c.args);
    EXPECT_FALSE(p.ok) << c.message;
    EXPECT_EQ(p.error, c.message);
  }
}

}  // namespace
}  // namespace dravrun
