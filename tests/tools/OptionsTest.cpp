// dravrun's command line: how the command's words are taken, each bad option's message,
// and --columns against a dictionary (what each option does is seen end to end).
#include <gtest/gtest.h>

#include "tools/dravrun/ColumnSelection.h"
#include "tools/dravrun/Options.h"

namespace dravrun {
namespace {

TEST(DravrunOptions, CommandWordsAreJoinedAndMayLookLikeOptions) {
  ParsedOptions p = ParseOptions({"--limit", "2", "GET", "DATA", "/TYPE=STREAM", "/VARIABLES", "=", "a", "-5"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.haveCommand);
  EXPECT_EQ(p.options.command, "GET DATA /TYPE=STREAM /VARIABLES = a -5");
  p = ParseOptions({"--", "--not-an-option"});
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
      {{"--seek", "x"}, "--seek: expects a case number of 0 or more, not 'x'"},
      {{"--summary-every", "0"}, "--summary-every: expects a number of seconds above 0, not '0'"},
      {{"--seek", "-1"}, "--seek: expects a case number of 0 or more, not '-1'"},
      {{"--limit", "5k"}, "--limit: expects a whole number of 0 or more, not '5k'"},
      {{"--limit", "99999999999999999999999"}, "--limit: expects a whole number of 0 or more, not '99999999999999999999999'"},
      {{"-f", "x", "GET DATA"}, "-f: give the command either as an argument or with -f, not both"},
      {{"--columns", "a,,b"}, "--columns: an empty item in 'a,,b'"},
      {{"--columns", "3-"}, "--columns: '3-' is neither a name, a position nor a range like 3-5"},
      {{"--columns", "-2"}, "--columns: '-2' is neither a name, a position nor a range like 3-5"},
      {{"--columns", "1-2-3"}, "--columns: '1-2-3' is neither a name, a position nor a range like 3-5"},
      {{"--columns", "x,00"}, "--columns: positions count from 1, not 0 ('00')"},
      {{"--na", "a\nb"}, "--na: the text may not hold a line break"},
      {{"--output", "jsonl", "--na", "NA"},
       "--na: applies to csv, tsv, table and markdown output; jsonl writes a missing value as null"},
      {{"--output", "raw", "--na", "NA", "--no-header"}, "--no-header: only csv, tsv and table output have a header "
                                                         "to leave out, not raw"},
      {{"--output", "raw", "--na", "NA"},
       "--na: applies to csv, tsv, table and markdown output; raw keeps a missing value as the NaN the feeder sent"},
      {{"--output", "none", "--na", ""}, "--na: applies to csv, tsv, table and markdown output; none writes no values"},
      {{"--output", "raw", "--exact"}, "--exact: applies to csv, tsv, jsonl and markdown output; raw is exact already"},
      {{"--exact", "--output", "table"}, "--exact: applies to csv, tsv, jsonl and markdown output; table is for reading by eye"},
      {{"--output", "markdown", "--no-header"},
       "--no-header: only csv, tsv and table output have a header to leave out, not markdown"},
      {{"--dictionary=xml"}, "--dictionary: expects text or json, not 'xml'"},
      {{"--output", "raw", "--dictionary", "json"},
       "--dictionary: with --output raw standard output holds only the records; write the dictionary with "
       "--dictionary-file FILE"},
      {{"--dictionary-file="}, "--dictionary-file: needs a file name"},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = ParseOptions(c.args);
    EXPECT_FALSE(p.ok) << c.message;
    EXPECT_EQ(p.error, c.message);
  }
}

TEST(ColumnSelection, ChoosesNamesPositionsAndRangesInTheOrderGivenOrSaysWhatIsNotThere) {
  const struct {
    const char *list, *chosen;  // chosen: the names joined by blanks, or the message
  } cases[] = {
      {"id,3-5", "id a b c"},
      {"NAME, B", "name b"},  // letters in any case, blanks around items
      {"a-d,2", "a b c d name"},
      {"b-5", "b c"},  // a range may mix a name and a position
      {"c,c", "c c"},
      {"10", "h"},  // ten variables: a position of two digits, read in base 10
      {"id,zz", "--columns: no variable is named 'zz'; the variables are id, name, a, b, c, d, e, f, g, h"},
      {"11", "--columns: position 11 is beyond the last variable (there are 10)"},
      {"99999999999999999999999", "--columns: position 99999999999999999999999 is beyond the last variable (there are 10)"},
      {"c-a", "--columns: the range 'c-a' runs backwards"},
      {"a-zz", "--columns: no variable is named 'zz'; the variables are id, name, a, b, c, d, e, f, g, h"},
  };
  std::vector<Column> dictionary;
  for (const char* name : {"id", "name", "a", "b", "c", "d", "e", "f", "g", "h"})
    dictionary.push_back({name, {}, 0, static_cast<int>(dictionary.size())});
  for (const auto& c : cases) {
    std::vector<Column> chosen;
    std::string names;
    if (SelectColumns(c.list, dictionary, chosen, names))
      for (const Column& column : chosen) names += (names.empty() ? "" : " ") + column.name;
    EXPECT_EQ(names, c.chosen) << c.list;
  }
}

}  // namespace
}  // namespace dravrun
