// dravrun's output options as a user runs them: the real binary against a
// feeder on a real named pipe, and its raw records read back by numpy.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "tests/tools/ChildProcess.h"
#include "tests/tools/TestFeeders.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/dravrun/Runner.h"

namespace dravtest {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const char kVariables[] = "id F4 name A6 x F6.2 y F6.2 z F6.2";

// Two cases of kVariables, the second with x and z missing.
std::string TwoCases() {
  RecordBuilder records({0, 6, 0, 0, 0}, false);
  records.AddCase({1, 1.5, 2.25, -3}, {"ANNA"});
  records.AddCase({2, kNaN, 4.5, kNaN}, {"BO,B"});
  return records.Bytes();
}

// dravrun with `options` against a fresh pipe feeder serving TwoCases().
ProcessResult RunOnTwoCases(const TempDir& dir, std::vector<std::string> options) {
  PipeFeeder feeder(dir.Path("data"), TwoCases());
  options.push_back("GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") + "' /VARIABLES = " + kVariables + ".");
  return RunProcess(Dravrun(options));
}

TEST(DravrunColumns, ChooseAndOrderTheColumnsOfTheCasesAndTheSummary) {
  TempDir dir;
  ProcessResult r = RunOnTwoCases(dir, {"--columns", "z,1,name-x", "--na", "NA"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "z,id,name,x\n-3.00,1,ANNA,1.50\nNA,2,\"BO,B\",NA\n");
  r = RunOnTwoCases(dir, {"--columns", "Y", "--output", "none", "--summary"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "variable  valid    mean      sd   min   max\n"
            "y             2  3.3750  1.5910  2.25  4.50\n");
}

TEST(DravrunColumns, AColumnThatIsNotThereIsAUsageErrorThatListsTheVariables) {
  TempDir dir;
  const struct {
    const char* list;
    const char* message;
  } cases[] = {
      {"id,nosuch", "dravrun: --columns: no variable is named 'nosuch'; the variables are id, name, x, y, z\n"},
      {"2-9", "dravrun: --columns: position 9 is beyond the last variable (there are 5)\n"},
      {"z-x", "dravrun: --columns: the range 'z-x' runs backwards\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunOnTwoCases(dir, {"--columns", c.list});
    EXPECT_EQ(r.exitCode, 2) << c.list;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
}

TEST(DravrunNoHeader, LeavesOutTheNamesInEveryFormatThatHasThem) {
  TempDir dir;
  const struct {
    const char* output;
    const char* expected;
  } cases[] = {
      {"csv", "1,ANNA,1.50\n2,\"BO,B\",\n"},
      {"tsv", "1\tANNA\t1.50\n2\tBO,B\t\n"},
      {"table", "   1  ANNA      1.50\n   2  BO,B         .\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunOnTwoCases(dir, {"--no-header", "--columns", "1-3", "--output", c.output});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.expected) << c.output;
  }
}

TEST(DravrunMarkdown, IsAGithubTableWithNumbersAlignedRight) {
  TempDir dir;
  const ProcessResult r = RunOnTwoCases(dir, {"--output", "markdown", "--columns", "name,x"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "| name | x |\n| --- | ---: |\n| ANNA | 1.50 |\n| BO,B |  |\n");
}

// Prints each record of a raw file as numpy reads it with the dtype the JSON
// dictionary describes: numbers with repr, strings decoded.
const char kNumpyReader[] = R"(
import json, sys
import numpy as np
d = json.load(open(sys.argv[1]))
c = d["columns"]
dtype = np.dtype({"names": [x["name"] for x in c], "formats": [x["dtype"] for x in c],
                  "offsets": [x["offset"] for x in c], "itemsize": d["record_bytes"]})
for record in np.fromfile(sys.argv[2], dtype):
    print(" ".join(v.decode().rstrip() if isinstance(v, bytes) else repr(float(v)) for v in record))
)";

TEST(DravrunRaw, RecordsAndJsonDictionaryAreReadBackByNumpy) {
  TempDir dir;
  const ProcessResult r = RunOnTwoCases(dir, {"--output", "raw", "--columns", "z,name,id", "--dictionary", "json",
                                              "--dictionary-file", dir.Path("cases.json")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.size(), 2u * 24u);
  std::ofstream(dir.Path("cases.bin"), std::ios::binary) << r.out;
  std::ofstream(dir.Path("read.py")) << kNumpyReader;
  if (RunProcess({"/usr/bin/python3", "-c", "import numpy"}).exitCode != 0) {
    FAIL() << "Debian's python3-numpy is missing (make deps installs it)";
  }
  const ProcessResult numpy =
      RunProcess({"/usr/bin/python3", dir.Path("read.py"), dir.Path("cases.json"), dir.Path("cases.bin")});
  ASSERT_EQ(numpy.exitCode, 0) << numpy.err;
  EXPECT_EQ(numpy.out, "-3.0 ANNA 1.0\nnan BO,B 2.0\n");
}

TEST(DravrunRaw, ADictionaryFileThatCannotBeWrittenIsAUsageError) {
  TempDir dir;
  const ProcessResult r = RunOnTwoCases(dir, {"--output", "raw", "--dictionary-file", dir.Path("no/such/dict.txt")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "dravrun: --dictionary-file: cannot write " + dir.Path("no/such/dict.txt") +
                       ": No such file or directory\n");
  EXPECT_EQ(r.out, "");
}

TEST(DravrunRaw, RefusesATerminalForItsRecords) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::FILE* terminal = std::fopen(ptsname(master), "w");
  ASSERT_NE(terminal, nullptr);
  char* errText = nullptr;
  std::size_t errSize = 0;
  std::FILE* err = open_memstream(&errText, &errSize);
  dravrun::Options options;
  options.output = dravrun::OutputFormat::kRaw;
  options.command = "GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = a F8.";
  options.haveCommand = true;
  EXPECT_EQ(dravrun::Run(options, dravrun::RunStreams{stdin, terminal, err}), dravrun::kExitUsage);
  std::fclose(err);
  EXPECT_EQ(std::string(errText, errSize),
            "dravrun: --output raw: standard output is a terminal; send the records to a file or a pipe\n");
  std::free(errText);
  std::fclose(terminal);
  close(master);
}

}  // namespace
}  // namespace dravtest
