// dravrun as a user runs it: the real binary in its own process, loading the
// real plug-in, against feeders over real named pipes and loopback TCP.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "tests/tools/ChildProcess.h"
#include "tests/tools/TestFeeders.h"
#include "tests/tools/ToolTestSupport.h"

namespace dravtest {
namespace {

const std::string kDravrun = BinaryPath("dravrun");
const double kNaN = std::numeric_limits<double>::quiet_NaN();
// 2026-12-05T14:30:15.25, a Saturday, day 339 of its year.
constexpr double kSaturdayAfternoon = 1796481015.25;

int CountOf(const std::string& text, const std::string& piece) {
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

// ---- Pipes ---------------------------------------------------------------

// Every format that survives the host's normalisation, one case of values
// and one of missing values.
const char kAllFormats[] =
    "n F8.2 code A6 big COMMA12.2 euro DOT10.2 price DOLLAR10.2 day DATE11 us ADATE10 "
    "eu EDATE10 iso SDATE10 jd JDATE7 q QYR8 my MOYR8 wk WKYR10 wd WKDAY9 mo MONTH9 "
    "clock TIME11.2 span DTIME15.2 stamp DATETIME23.2 pct PCT7.1";

std::string AllFormatRecords() {
  std::vector<int> widths(19, 0);
  widths[1] = 6;
  RecordBuilder records(widths, false);
  const double t = kSaturdayAfternoon;
  records.AddCase({3.14159, 1234567.891, 1234567.891, -1234.5, t, t, t, t, t, t, t, t, 7, 12,
                   45015.25, 2 * 86400 + 3723.25, t, 45.678},
                  {"KRV01"});
  records.AddCase(std::vector<double>(18, kNaN), {""});
  return records.Bytes();
}

TEST(DravrunPipe, RendersEveryFormatAndLeavesMissingValuesEmpty) {
  TempDir dir;
  PipeFeeder feeder(dir.Path("data"), AllFormatRecords());
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") +
                                              "' /VARIABLES = " + kAllFormats + "."}));
  EXPECT_TRUE(feeder.Join());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "n,code,big,euro,price,day,us,eu,iso,jd,q,my,wk,wd,mo,clock,span,stamp,pct\n"
            "3.14,KRV01,\"1,234,567.89\",\"1234567,89\",\"-$1,234.50\",05-DEC-2026,12/05/2026,05.12.2026,"
            "2026/12/05,2026339,4 Q 2026,DEC 2026,49 WK 2026,SATURDAY,DECEMBER,12:30:15.25,"
            "02 01:02:03.25,05-DEC-2026 14:30:15.25,45.68\n"
            ",,,,,,,,,,,,,,,,,,\n");
  EXPECT_EQ(r.err, "2 cases\n");
}

TEST(DravrunPipe, DictionaryShowsTheFormatsTheHostKept) {
  TempDir dir;
  PipeFeeder feeder(dir.Path("data"), AllFormatRecords());
  const ProcessResult r = RunProcess(Dravrun({"--dictionary", "--output", "none", "GET DATA /TYPE = STREAM /PIPE = '" +
                                              dir.Path("data") + "' /VARIABLES = " + kAllFormats + "."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("variable  format\nn         F8.2\ncode      A6\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stamp     DATETIME23.2\npct       F8.2\n"), std::string::npos) << r.out;
}

TEST(DravrunPipe, CommandComesFromAFileOrStandardInput) {
  TempDir dir;
  RecordBuilder records({0}, false);
  records.AddCase({42}, {});
  const std::string command = "GET DATA /TYPE = STREAM\n  /PIPE = '" + dir.Path("data") + "'\n  /VARIABLES = x F4.\n";
  {
    std::ofstream(dir.Path("cmd")) << command;
    PipeFeeder feeder(dir.Path("data"), records.Bytes());
    const ProcessResult r = RunProcess(Dravrun({"-f", dir.Path("cmd")}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "x\n42\n");
  }
  {
    PipeFeeder feeder(dir.Path("data"), records.Bytes());
    const ProcessResult r = RunProcess(Dravrun({}), command);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "x\n42\n");
  }
}

TEST(DravrunPipe, WarningsOfAnAcceptedCommandGoToStandardErrorAndTheCasesStillCome) {
  TempDir dir;
  RecordBuilder records({0}, false);
  records.AddCase({7}, {});
  PipeFeeder feeder(dir.Path("data"), records.Bytes());
  const std::string longName = "v" + std::string(69, 'x');
  const ProcessResult r = RunProcess(
      Dravrun({"GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") + "' /VARIABLES = " + longName + " F2."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, longName.substr(0, 64) + "\n7\n");
  EXPECT_EQ(r.err.rfind("warning: [2273] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" " + longName + "\n1 cases\n"), std::string::npos) << r.err;
}

TEST(DravrunPipe, RewindThatDeliversNothingExitsThree) {
  // The rewind pipe is read (so "RWND" is delivered) but no feeder answers:
  // the one-shot feeder has gone and the data pipe with it.
  TempDir dir;
  const std::string rewind = dir.Path("rewind");
  ASSERT_EQ(mkfifo(rewind.c_str(), 0600), 0);
  const int rewindReader = open(rewind.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(rewindReader, 0);
  RecordBuilder records({0}, false);
  for (int i = 0; i < 3; ++i) records.AddCase({static_cast<double>(i)}, {});
  PipeFeeder feeder(dir.Path("data"), records.Bytes());
  const ProcessResult r = RunProcess(Dravrun(
      {"--passes", "2", "GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") + "' /REWINDABLE = '" +
                            rewind + "' /VARIABLES = i F2."}));
  close(rewindReader);
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.out, "i\n0\n1\n2\n");
  EXPECT_NE(r.err.find("3 cases\n0 cases\nerror: pass 2 failed: the rewind could not reach the feeder"),
            std::string::npos)
      << r.err;
}

// ---- Sockets and byte orders ---------------------------------------------

class DravrunSocketByteOrder : public testing::TestWithParam<bool> {};

TEST_P(DravrunSocketByteOrder, ReversesNumbersOfAFeederOfTheOtherOrderButNotStrings) {
  const bool swapped = GetParam();
  RecordBuilder records({0, 5, 0}, swapped);
  records.AddCase({1.5, kSaturdayAfternoon}, {"abcde"});
  records.AddCase({-2e10, 0}, {"xy"});
  SocketFeeder feeder(records.Bytes(), swapped);
  const ProcessResult r = RunProcess(Dravrun({"--output", "tsv", "GET DATA /TYPE = STREAM /SOCKET = " +
                                              std::to_string(feeder.Port()) +
                                              " /HOST = 127.0.0.1 /VARIABLES = v F12.2 s A5 d DATE11."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "v\ts\td\n1.50\tabcde\t05-DEC-2026\n-20000000000\txy\t01-JAN-1970\n");
  EXPECT_EQ(r.err, "2 cases\n");
  EXPECT_EQ(feeder.Join(), "STOP");
}

INSTANTIATE_TEST_SUITE_P(BothOrders, DravrunSocketByteOrder, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Swapped") : std::string("Native");
                         });

TEST(DravrunSocket, RewindThatCannotReachTheFeederExitsThree) {
  RecordBuilder records({0}, false);
  for (int i = 0; i < 3; ++i) records.AddCase({static_cast<double>(i)}, {});
  SocketFeeder feeder(records.Bytes(), false);  // refuses every later connection
  const ProcessResult r = RunProcess(Dravrun({"--passes", "2", "GET DATA /TYPE = STREAM /SOCKET = " +
                                              std::to_string(feeder.Port()) +
                                              " /HOST = 127.0.0.1 /REWINDABLE /VARIABLES = i F2."}));
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.out, "i\n0\n1\n2\n");
  EXPECT_NE(r.err.find("3 cases\n0 cases\nerror: pass 2 failed: the rewind could not reach the feeder"),
            std::string::npos)
      << r.err;
}

// ---- The README's Python feeder: passes, seeks and the output formats ----

class PythonFeederTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(feeder_.Started());
    std::string port;
    ASSERT_TRUE(feeder_.ReadLine(port)) << "the feeder printed no port: " << feeder_.Stop().err;
    port_ = port;
  }

  std::string Command(const std::string& subcommands = "/REWINDABLE /SEEKABLE") const {
    return "GET DATA /TYPE = STREAM /SOCKET = " + port_ + " /HOST = 127.0.0.1 " + subcommands +
           " /VARIABLES = n F8 label A8 value F8.2 .";
  }

  ChildProcess feeder_{{"/usr/bin/env", "python3", DRAV_SOURCE_DIR "/examples/feeder.py"}};
  std::string port_;
};

TEST_F(PythonFeederTest, EveryPassRewindsToTheFirstCase) {
  const ProcessResult r = RunProcess(Dravrun({"--passes", "3", Command()}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "100 cases\n100 cases\n100 cases\n");
  EXPECT_EQ(CountOf(r.out, "\n0,case0000,0.00\n"), 3);
  EXPECT_EQ(CountOf(r.out, "\n99,case0099,24.75\n"), 3);
}

TEST_F(PythonFeederTest, SeekStartsEveryPassAtTheCaseAsked) {
  const ProcessResult r = RunProcess(Dravrun({"--seek", "97", "--passes", "2", Command()}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "n,label,value\n97,case0097,24.25\n98,case0098,24.50\n99,case0099,24.75\n"
            "97,case0097,24.25\n98,case0098,24.50\n99,case0099,24.75\n");
  EXPECT_EQ(r.err, "3 cases\n3 cases\n");
}

TEST_F(PythonFeederTest, LimitEndsEachPassEarlyAndTheNextPassStartsOver) {
  const ProcessResult r = RunProcess(Dravrun({"--limit", "2", "--passes", "2", "--output", "jsonl", Command()}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass =
      "{\"n\":0,\"label\":\"case0000\",\"value\":0.00}\n{\"n\":1,\"label\":\"case0001\",\"value\":0.25}\n";
  EXPECT_EQ(r.out, pass + pass);
  EXPECT_EQ(r.err, "2 cases\n2 cases\n");
}

TEST_F(PythonFeederTest, TableAndSummary) {
  const ProcessResult r = RunProcess(Dravrun({"--limit", "2", "--output", "table", "--summary", Command()}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "       n  label        value\n"
            "--------  --------  --------\n"
            "       0  case0000      0.00\n"
            "       1  case0001      0.25\n"
            "\n"
            "variable  valid    mean      sd   min   max\n"
            "n             2    0.50    0.71     0     1\n"
            "label         2\n"
            "value         2  0.1250  0.1768  0.00  0.25\n");
}

TEST_F(PythonFeederTest, SummaryOfTheWholeStream) {
  const ProcessResult r = RunProcess(Dravrun({"--output", "none", "--summary", Command()}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "variable  valid     mean      sd   min    max\n"
            "n           100    49.50   29.01     0     99\n"
            "label       100\n"
            "value       100  12.3750  7.2529  0.00  24.75\n");
}

// The feeder serves readers one after another: a second dravrun, which
// sends nothing and waits for the probe, is served like the first, and a
// reader that seeks on its first pass is told from a new one.
TEST_F(PythonFeederTest, ServesReadersOneAfterAnother) {
  const ProcessResult first = RunProcess(Dravrun({"--output", "none", "--passes", "2", Command()}));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err, "100 cases\n100 cases\n");
  const ProcessResult second = RunProcess(Dravrun({"--limit", "1", Command()}));
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "n,label,value\n0,case0000,0.00\n");
  const ProcessResult third = RunProcess(Dravrun({"--seek", "99", Command()}));
  ASSERT_EQ(third.exitCode, 0) << third.err;
  EXPECT_EQ(third.out, "n,label,value\n99,case0099,24.75\n");
}

// ---- What dravrun says about a command it doubts -------------------------

TEST_F(PythonFeederTest, ByteOrderMarkBeforeTheCommandIsSkipped) {
  TempDir dir;
  std::ofstream(dir.Path("bom.cmd")) << "\xEF\xBB\xBF" << Command() << "\n";
  const ProcessResult r = RunProcess(Dravrun({"--output", "none", "-f", dir.Path("bom.cmd")}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "100 cases\n");
}

TEST_F(PythonFeederTest, TextAfterTheFullStopIsReportedAndIgnored) {
  const ProcessResult r = RunProcess(Dravrun({"--output", "none", Command() + " /PIPE = 'x'"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "warning: the text after the command's full stop is ignored: / PIPE = 'x'\n100 cases\n");
}

TEST_F(PythonFeederTest, PassesOverAStreamThatCannotRewindAreQuestioned) {
  const ProcessResult r = RunProcess(Dravrun({"--output", "none", "--passes", "2", Command("")}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "warning: --passes 2: the stream is not REWINDABLE, so every pass after the first "
            "finds it ended\n100 cases\n0 cases\n");
}

// Refused before the plug-in is loaded: a plug-in path that does not exist
// is never reached.
TEST(DravrunRefusal, CommandThatCouldNeverGiveCasesExitsTwoBeforeLoadingThePlugin) {
  const char kNoStream[] = "dravrun: the command names no stream: add /PIPE = 'PATH' or /SOCKET = PORT\n";
  const char kNoVariables[] =
      "dravrun: the command's /VARIABLES list is empty: name each variable and its format, as in "
      "/VARIABLES = id F8 name A20\n";
  const struct {
    const char* command;
    const char* message;
  } kCases[] = {
      {"GET DATA /TYPE = STREAM /VARIABLES = a F8 .", kNoStream},
      {"GET DATA /TYPE = STREAM /HOST = localhost /VARIABLES = a F8 .", kNoStream},
      {"GET DATA /TYPE = STREAM /VARIABLES = '/tmp/PIPE' /REWINDABLE .", kNoStream},
      {"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = .", kNoVariables},
      {"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = ... .", kNoVariables},
      {"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = /SEEKABLE .", kNoVariables},
      {"GET DATA /TYPE = STREAM /socket = 5000 /variables .", kNoVariables},
  };
  for (const auto& c : kCases) {
    const ProcessResult r = RunProcess(Dravrun({"--plugin", "/nonexistent/plugin.so", c.command}));
    EXPECT_EQ(r.exitCode, 2) << c.command;
    EXPECT_EQ(r.err, c.message) << c.command;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(PythonFeederTest, SeekOnAStreamThatCannotSeekExitsThree) {
  const ProcessResult r = RunProcess(Dravrun({"--seek", "5", Command("/REWINDABLE")}));
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("error: --seek: this stream cannot seek"), std::string::npos) << r.err;
}

// The Python pipe feeder of examples/ serves the same cases over named pipes,
// gated as docs/PROTOCOL.md tells feeder authors; it ends on its own once the
// reader is done.
TEST(PythonPipeFeeder, SeekingPassesGetTheAskedCasesAndThePipesGoAway) {
  TempDir dir;
  ChildProcess feeder({"/usr/bin/env", "python3", DRAV_SOURCE_DIR "/examples/pipe_feeder.py",
                       dir.Path("data"), dir.Path("rewind")});
  std::string line;
  ASSERT_TRUE(feeder.ReadLine(line)) << feeder.Stop().err;
  ASSERT_EQ(line, "ready");
  const ProcessResult r = RunProcess(
      Dravrun({"--passes", "3", "--seek", "97",
               "GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") + "' /REWINDABLE = '" +
                   dir.Path("rewind") + "' /SEEKABLE /VARIABLES = n F8 label A8 value F8.2 ."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass = "97,case0097,24.25\n98,case0098,24.50\n99,case0099,24.75\n";
  EXPECT_EQ(r.out, "n,label,value\n" + pass + pass + pass);
  EXPECT_EQ(r.err, "3 cases\n3 cases\n3 cases\n");
  const ProcessResult f = feeder.Wait();
  EXPECT_EQ(f.exitCode, 0) << f.err;
  struct stat st;
  EXPECT_NE(stat(dir.Path("data").c_str(), &st), 0) << "the data pipe was left behind";
  EXPECT_NE(stat(dir.Path("rewind").c_str(), &st), 0) << "the rewind pipe was left behind";
}

// ---- Refusals and usage errors -------------------------------------------

TEST(DravrunRefusal, RefusedCommandExitsOneWithThePluginsMessage) {
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = a F99."}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("error: [2265] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" a\n"), std::string::npos) << r.err;
}

// A FIFO that no feeder will open (left behind by one killed with SIGKILL)
// ends the run after the data pipe's allowance of about 20 seconds, as a
// missing pipe does, instead of holding dravrun for ever; the watchdog of
// RunProcess turns a wait for ever into a failure.
TEST(DravrunRefusal, StaleDataPipeExitsOneWith2279InsteadOfWaitingForEver) {
  TempDir dir;
  const std::string stale = dir.Path("stale.pipe");
  ASSERT_EQ(mkfifo(stale.c_str(), 0600), 0);
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = STREAM /PIPE = '" + stale + "' /VARIABLES = a F8 ."}));
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: [2279] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(stale), std::string::npos) << r.err;
}

TEST(DravrunRefusal, TextThatIsNotAStreamCommandExitsOne) {
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = TXT /FILE = 'x.txt'."}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: not a GET DATA /TYPE = STREAM command: ", 0), 0u) << r.err;
}

TEST(DravrunRefusal, PortWithNobodyListeningExitsOneWith2281) {
  DeafPort port;
  const std::string address = "127.0.0.1:" + std::to_string(port.Port());
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = STREAM /SOCKET = " + std::to_string(port.Port()) +
                                              " /HOST = 127.0.0.1 /VARIABLES = a F8."}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("error: [2281] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("inet:" + address), std::string::npos) << r.err;
}

TEST(DravrunRefusal, CatalogsOptionChoosesTheMessageTexts) {
  TempDir dir;
  std::ofstream(dir.Path("korvel.err")) << "2265\tOur own words for a bad format:\n";
  std::ofstream(dir.Path("talvex.err")) << "";
  const ProcessResult r = RunProcess(Dravrun({"--catalogs", dir.Path(""),
                                              "GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = b Q8."}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "error: [2265] Our own words for a bad format: b\n");
}

TEST(DravrunUsage, EveryUsageErrorExitsTwoAndSaysWhatIsWrong) {
  const std::string command = "GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = a F8.";
  const struct {
    std::vector<std::string> args;
    std::string input;
    const char* message;
  } cases[] = {
      {{"--output", "xml", command}, "", "--output: expects csv, tsv, jsonl, table, markdown, raw or none"},
      {{"--passes", "0", command}, "", "--passes: expects a whole number of 1 or more"},
      {{"--seek", "-3", command}, "", "--seek: expects a case number of 0 or more"},
      {{"--frobnicate"}, "", "unknown option --frobnicate"},
      {{"--plugin", "/nonexistent/libplugin.so", command}, "", "cannot load the plug-in /nonexistent/libplugin.so"},
      {{"--catalogs", "/nonexistent", command}, "", "--catalogs: /nonexistent is not a folder"},
      {{"-f", "/nonexistent/command"}, "", "-f: cannot read /nonexistent/command"},
      {{}, "  \n", "no command given"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunProcess(Dravrun(c.args), c.input);
    EXPECT_EQ(r.exitCode, 2) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(DravrunUsage, HelpShowsExamplesAndExitStatuses) {
  const ProcessResult r = RunProcess({kDravrun, "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Usage: dravrun [options] [COMMAND]"), std::string::npos);
  EXPECT_NE(r.out.find("Examples:"), std::string::npos);
  EXPECT_NE(r.out.find("3 the stream failed after it was opened"), std::string::npos);
  const ProcessResult v = RunProcess({kDravrun, "--version"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out.rfind("dravrun ", 0), 0u);
}

// ---- The documentation -----------------------------------------------------

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DravrunDocs, ReadmeShowsTheHelpOfBothToolsWordForWord) {
  const std::string readme = ReadFile(DRAV_SOURCE_DIR "/README.md");
  ASSERT_FALSE(readme.empty());
  for (const char* tool : {"dravrun", "dravfeed"}) {
    const ProcessResult r = RunProcess({BinaryPath(tool), "--help"});
    ASSERT_EQ(r.exitCode, 0) << tool << ": " << r.err;
    EXPECT_NE(readme.find("### " + std::string(tool) + " --help\n\n```\n" + r.out + "```\n"), std::string::npos)
        << "README.md does not show the current " << tool << " --help";
  }
}

}  // namespace
}  // namespace dravtest
