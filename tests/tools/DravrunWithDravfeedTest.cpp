// The two tools together, as a user runs them: dravfeed serves, dravrun
// reads, each in its own process, over named pipes and loopback TCP.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/ChildProcess.h"
#include "tests/tools/ToolTestSupport.h"

namespace dravtest {
namespace {

const std::string kExamples = DRAV_SOURCE_DIR "/examples/";
const char kWeatherVariables[] = "time DATETIME17 station A8 temp F5.1 humidity F4 wind F5.1 pressure F7.1";

std::vector<std::string> Dravfeed(std::vector<std::string> args) {
  args.insert(args.begin(), {BinaryPath("dravfeed"), "--linger", "0.3"});
  return args;
}

// The rest of the first line of dravfeed's standard error that starts with
// `prefix`; empty when none comes.
std::string LineAfter(ChildProcess& feeder, const std::string& prefix) {
  std::string line;
  while (feeder.ReadLine(line, ChildProcess::kErr)) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return "";
}

// The port dravfeed prints as "dravfeed: listening on port N, ...".
std::string PortOf(ChildProcess& feeder) {
  const std::string rest = LineAfter(feeder, "dravfeed: listening on port ");
  return rest.substr(0, rest.find(','));
}

TEST(DravrunWithDravfeed, PipePassesRewindAndSeekThroughTheRewindPipe) {
  TempDir dir;
  ChildProcess feeder(Dravfeed({"--pipe", dir.Path("data"), "--rewind-pipe", dir.Path("rewind"), "--csv",
                                kExamples + "weather.csv", "--header", "--variables", kWeatherVariables}));
  // The rewind pipe is checked once, without waiting: the feeder must be up.
  ASSERT_FALSE(LineAfter(feeder, "dravfeed: serving ").empty()) << feeder.Stop().err;
  const ProcessResult r = RunProcess(Dravrun({"--passes", "2", "--seek", "2998", "--output", "tsv",
                                              "GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") +
                                                  "' /REWINDABLE = '" + dir.Path("rewind") +
                                                  "' /SEEKABLE /VARIABLES = " + kWeatherVariables + " ."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass =
      "25-MAR-2026 23:00\tHILLTOP\t6.2\t53\t5.1\t1012.8\n"
      "25-MAR-2026 23:00\tVALLEY\t9.9\t76\t3.1\t1013.3\n";
  EXPECT_EQ(r.out, "time\tstation\ttemp\thumidity\twind\tpressure\n" + pass + pass);
  EXPECT_EQ(r.err, "2 cases\n2 cases\n");
  const ProcessResult f = feeder.Wait();
  EXPECT_EQ(f.exitCode, 0) << f.err;
}

TEST(DravrunWithDravfeed, WithoutARewindPipeASecondPassFindsNothing) {
  TempDir dir;
  ChildProcess feeder(Dravfeed({"--pipe", dir.Path("data"), "--generate", "5", "--variables", "i F4"}));
  const ProcessResult r = RunProcess(Dravrun({"--passes", "2", "GET DATA /TYPE = STREAM /PIPE = '" +
                                                                  dir.Path("data") + "' /VARIABLES = i F4 ."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "i\n0\n1\n2\n3\n4\n");
  EXPECT_EQ(r.err,
            "warning: --passes 2: the stream is not REWINDABLE, so every pass after the first "
            "finds it ended\n5 cases\n0 cases\n");
  EXPECT_EQ(feeder.Wait().exitCode, 0);
}

class DravrunWithDravfeedOverTcp : public testing::TestWithParam<const char*> {};

TEST_P(DravrunWithDravfeedOverTcp, EitherByteOrderGivesTheSameCasesOnEveryPass) {
  ChildProcess feeder(Dravfeed({"--socket", "0", "--byte-order", GetParam(), "--generate", "8", "--variables",
                                "i F4 x F8.2 d DATE11 s A4"}));
  const std::string port = PortOf(feeder);
  ASSERT_FALSE(port.empty()) << feeder.Stop().err;
  const ProcessResult r = RunProcess(Dravrun({"--passes", "3", "--seek", "5", "GET DATA /TYPE = STREAM /SOCKET = " +
                                                                                  port + " /REWINDABLE /SEEKABLE"
                                                                                         " /VARIABLES = i F4 x F8.2 d DATE11 s A4 ."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass = "5,5.25,01-JAN-2024,c5\n6,,01-JAN-2024,c6\n7,7.25,01-JAN-2024,c7\n";
  EXPECT_EQ(r.out, "i,x,d,s\n" + pass + pass + pass);
  EXPECT_EQ(r.err, "3 cases\n3 cases\n3 cases\n");
  EXPECT_EQ(feeder.Wait().exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, DravrunWithDravfeedOverTcp, testing::Values("native", "swapped"));

// Without output, summary or progress dravrun only counts the cases; the
// count, the limit and the end of each pass must come out as when it prints.
TEST(DravrunWithDravfeed, CountingWithoutOutputStopsAtTheLimitOrTheEnd) {
  struct Case {
    std::vector<std::string> options;
    const char* counts;  // dravrun's standard error
  };
  const Case cases[] = {
      {{}, "50 cases\n"},
      {{"--limit", "0"}, "0 cases\n"},
      {{"--limit", "50", "--passes", "2"}, "50 cases\n50 cases\n"},
      {{"--limit", "7", "--seek", "45", "--passes", "2"}, "5 cases\n5 cases\n"},
      {{"--limit", "3", "--seek", "10", "--passes", "2"}, "3 cases\n3 cases\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--output", "none"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    ChildProcess feeder(Dravfeed({"--socket", "0", "--generate", "50", "--variables", "i F4 x F8.2"}));
    const std::string port = PortOf(feeder);
    ASSERT_FALSE(port.empty()) << feeder.Stop().err;
    args.push_back("GET DATA /TYPE = STREAM /SOCKET = " + port +
                   " /REWINDABLE /SEEKABLE /VARIABLES = i F4 x F8.2 .");
    const ProcessResult r = RunProcess(Dravrun(args));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.counts);
    EXPECT_EQ(feeder.Wait().exitCode, 0);
  }
}

TEST(DravrunWithDravfeed, CsvStringsSurviveTheRoundTrip) {
  // Quotes, separators and line breaks inside fields, CRLF line ends and a
  // missing number: what dravfeed reads, dravrun writes back the same way.
  TempDir dir;
  std::ofstream(dir.Path("in.csv"), std::ios::binary)
      << "\"a,b\",1.50\r\n\"say \"\"hi\"\"\",2.25\r\n\"two\nlines\",\r\nplain,-4.00\r\n";
  ChildProcess feeder(Dravfeed({"--pipe", dir.Path("data"), "--csv", dir.Path("in.csv"), "--variables",
                                "name A12 n F8.2"}));
  const ProcessResult r = RunProcess(Dravrun({"GET DATA /TYPE = STREAM /PIPE = '" + dir.Path("data") +
                                              "' /VARIABLES = name A12 n F8.2 ."}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "name,n\n\"a,b\",1.50\n\"say \"\"hi\"\"\",2.25\n\"two\nlines\",\nplain,-4.00\n");
  EXPECT_EQ(feeder.Wait().exitCode, 0);
}

TEST(DravrunWithDravfeed, TheDemoShowsTheTableAndTheSummaryAndExitsZero) {
  const ProcessResult r = RunProcess({"/bin/sh", kExamples + "demo.sh", DRAV_BINARY_DIR});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("             time  station    temp  humidity   wind  pressure\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("01-MAR-2026 00:00  NORTHPT    -1.1       100   11.2    1011.6\n"), std::string::npos);
  EXPECT_NE(r.out.find("variable  valid"), std::string::npos);
  EXPECT_NE(r.out.find("station    3000\n"), std::string::npos);
  EXPECT_NE(r.err.find("20 cases\n"), std::string::npos);
  EXPECT_NE(r.err.find("3000 cases\n"), std::string::npos);
}

}  // namespace
}  // namespace dravtest
