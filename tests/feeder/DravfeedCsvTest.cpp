// dravfeed's CSV options as a real process: each bad one refused with a
// message that names it, and each good one reaching the reader of a file and
// of live input alike (what they mean is CsvReaderTest's business).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dravfeed/CsvCases.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

TEST(DravfeedCsv, EachBadCsvOptionIsRefusedNamingIt) {
  Watchdog watchdog(60, "dravfeed's CSV option refusals");
  const std::string kOneCharacter = " takes one character (\\t for a tab) other than a quote or a line end, not ";
  const std::string kDirectives = "(it knows %Y %y %m %d %e %b %B %h %H %I %p %M %S %f %F %T %%)";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--delimiter", "ab"}, "--delimiter" + kOneCharacter + "\"ab\""},
      {{"--delimiter", "\""}, "--delimiter" + kOneCharacter + "\"\"\""},
      {{"--comment", ""}, "--comment" + kOneCharacter + "\"\""},
      {{"--delimiter", ";", "--comment", ";"}, "--comment and the delimiter cannot be the same character"},
      {{"--tsv", "--delimiter", ";"}, "give one of --delimiter or --tsv"},
      {{"--skip", "-1"}, "--skip takes a whole number from 0 to 1000000000, not \"-1\""},
      {{"--date-format", "%d-%Q"}, "--date-format \"%d-%Q\" has %Q, which it does not know " + kDirectives},
      {{"--date-format", "%d-%m"}, "--date-format \"%d-%m\" has no year (%Y or %y)"},
      {{"--date-format", "%Y %"}, "--date-format \"%Y %\" ends with a lone %"},
      {{"--date-format", "%Y %I:%M"}, "--date-format \"%Y %I:%M\" needs %I and %p together"},
      {{"--date-format", "%Y %M.%f"}, "--date-format \"%Y %M.%f\" has %f (a fraction) but no %S"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--socket", "0", "--variables", "x F8", "--csv", "-"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = RunProcess(Dravfeed(args));
    EXPECT_EQ(r.exitCode, 2) << c.message;
    EXPECT_EQ(r.err, "dravfeed: " + c.message + "\n");
  }
  const ProcessResult r = RunProcess(Dravfeed({"--socket", "0", "--variables", "x F8", "--generate", "1", "--null", "NA"}));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "dravfeed: --null goes with --csv\n");
}

TEST(DravfeedCsv, OptionsReachTheReaderOfAFileAndOfLiveInput) {
  Watchdog watchdog(60, "dravfeed's CSV options");
  const char kVariables[] = "seen DATE11 name A6 n F4";
  const std::string text =
      "exported by hand\n# a comment\nN\tSeen\textra\tName\n3\t07-Dec-26\t-\tann\nNA\t1-jan-70\t\"a\tb\"\tNULL\n";
  const std::vector<std::string> options = {"--tsv", "--skip", "1", "--comment", "#", "--header", "--null",
                                            "NA", "--null", "NULL", "--date-format", "%d-%b-%y"};
  feed::CsvOptions csv;
  csv.delimiter = '\t';
  csv.skipLines = 1;
  csv.comment = '#';
  csv.header = true;
  csv.nullTexts = {"NA", "NULL"};
  csv.datePattern = "%d-%b-%y";
  const feed::VariableList list = feed::VariableList::Parse(kVariables);
  const feed::RecordBuilder builder(list, feed::ByteOrder::kNative);
  std::istringstream in(text);
  feed::MemoryCases expected = feed::LoadCsvCases(in, builder, csv);
  ASSERT_EQ(expected.CaseCount(), 2);
  std::string records(2 * list.RecordBytes(), '\0');
  expected.Render(0, 2, records.data());

  TempDir dir;
  for (const std::string& source : {dir.WriteFile("cases.tsv", text), std::string("-")}) {
    SCOPED_TRACE(source);
    std::vector<std::string> args = {"--socket", "0", "--variables", kVariables, "--csv", source};
    args.insert(args.end(), options.begin(), options.end());
    ChildProcess feed(Dravfeed(args), text);
    WireReader reader(feed.DravfeedPort());
    reader.Begin();
    EXPECT_EQ(reader.ReadToEnd(), records);
    reader.End();
    const ProcessResult r = feed.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
}

// An inferred list is read as the file will be served: after its preamble
// and comments, with its null texts and date pattern; and its header, whose
// labels became other names (AND is reserved), is taken column by column.
TEST(DravfeedCsv, AnInferredListReadsTheFileAsItIsServed) {
  Watchdog watchdog(60, "dravfeed's inference with CSV options");
  TempDir dir;
  const std::string path =
      dir.WriteFile("cases.csv", "made by hand\n# note\nAND,when,x y\n1,07-Dec-26,ab\nNA,08-Dec-26,c\n");
  ChildProcess feed(Dravfeed({"--socket", "0", "--csv", path, "--header", "--skip", "1", "--comment", "#",
                              "--null", "NA", "--date-format", "%d-%b-%y", "--print-command"}));
  std::string command;
  ASSERT_TRUE(feed.ReadLine(command));
  EXPECT_NE(command.find("/VARIABLES = AND_ F1 when DATE11 x_y A2 ."), std::string::npos) << command;
  WireReader reader(feed.DravfeedPort());
  reader.Begin();
  EXPECT_EQ(reader.ReadToEnd().size(), 2u * 3 * 8);
  reader.End();
  const ProcessResult r = feed.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace
}  // namespace test
}  // namespace drav
