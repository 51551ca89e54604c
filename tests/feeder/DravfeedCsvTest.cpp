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
