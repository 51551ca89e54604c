// dravrun as a user runs it: the real binary and plug-in against dravfeed (or the README's
// Python pipe feeder) over real named pipes and loopback TCP.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScriptedFeeder.h"
#include "tests/support/StreamSupport.h"

namespace drav::test {
namespace {

const std::string kExamples = DRAV_SOURCE_DIR "/examples/";
// dravfeed --generate makes case i: i, i + 0.25 (missing when i % 7 == 6), 2024-01-01 + i minutes, "ci".
const char kGenerated[] = "i F4 x F8.2 d DATE11 s A4";

std::string Command(const std::string& source, const std::string& variables, const std::string& more = "") {
  return "GET DATA /TYPE = STREAM " + source + " " + more + " /VARIABLES = " + variables + " .";
}

std::string PipeSource(const std::string& data, const std::string& rewind = "") {
  return "/PIPE = '" + data + "'" + (rewind.empty() ? "" : " /REWINDABLE = '" + rewind + "' /SEEKABLE");
}

std::string Socket(ChildProcess& feed) { return "/SOCKET = " + std::to_string(feed.DravfeedPort()); }

std::vector<std::string> Generated(const char* cases, const std::vector<std::string>& more = {}) {
  std::vector<std::string> args = {"--socket", "0", "--generate", cases, "--variables", kGenerated};
  args.insert(args.end(), more.begin(), more.end());
  return Dravfeed(args);
}

struct DravrunRun {
  const char* what;
  std::vector<std::string> options;
  const char* subcommands;
  int exitCode;
  const char *out, *err;
  std::vector<std::string> feeder = {};
  const char* before = nullptr;  // given: the command comes on standard input after this
  const char* after = "";        // text after the command's full stop
};

const char kBoth[] = "/REWINDABLE /SEEKABLE";
const char kTsvFromFive[] = "i\tx\td\ts\n5\t5.25\t01-JAN-2024\tc5\n6\t\t01-JAN-2024\tc6\n7\t7.25\t01-JAN-2024\tc7\n";

const DravrunRun kRuns[] = {
    {"CountingOnly", {"--output", "none"}, kBoth, 0, "", "50 cases\n"},
    {"Limit0", {"--output", "none", "--limit", "0"}, "", 0, "", "0 cases\n"},
    {"LimitPerPass", {"--output", "none", "--limit", "50", "--passes", "2"}, "/REWINDABLE", 0, "",
     "50 cases\n50 cases\n"},
    {"SeekToTheFirstCase", {"--output", "none", "--seek", "0", "--limit", "3"}, kBoth, 0, "", "3 cases\n"},
    {"LimitBeyondTheEndAfterASeek", {"--output", "none", "--limit", "7", "--seek", "45", "--passes", "2"},
     kBoth, 0, "", "5 cases\n5 cases\n"},
    {"CsvOfEveryPassAfterASeek", {"--limit", "2", "--seek", "10", "--passes", "2"}, kBoth, 0,
     "i,x,d,s\n10,10.25,01-JAN-2024,c10\n11,11.25,01-JAN-2024,c11\n10,10.25,01-JAN-2024,c10\n11,11.25,01-JAN-2024,c11\n",
     "2 cases\n2 cases\n"},
    {"TsvFromASwappedFeeder", {"--output", "tsv", "--seek", "5", "--limit", "3"}, kBoth, 0, kTsvFromFive,
     "3 cases\n", {"--byte-order", "swapped"}},
    {"Jsonl", {"--limit", "2", "--output", "jsonl", "--seek", "5"}, kBoth, 0,
     "{\"i\":5,\"x\":5.25,\"d\":\"01-JAN-2024\",\"s\":\"c5\"}\n{\"i\":6,\"x\":null,\"d\":\"01-JAN-2024\",\"s\":\"c6\"}\n",
     "2 cases\n"},
    {"JsonlExact", {"--limit", "1", "--output", "jsonl", "--exact", "--seek", "5"}, kBoth, 0,
     "{\"i\":5,\"x\":5.25,\"d\":\"2024-01-01T00:05:00\",\"s\":\"c5\"}\n", "1 cases\n"},
    {"ColumnsAndMissingText", {"--seek", "5", "--limit", "2", "--columns", "S,1-2", "--na", "NA"}, kBoth, 0,
     "s,i,x\nc5,5,5.25\nc6,6,NA\n", "2 cases\n"},
    {"TableWithoutHeader", {"--output", "table", "--no-header", "--seek", "5", "--limit", "2"}, kBoth, 0,
     "   5      5.25  01-JAN-2024  c5\n   6         .  01-JAN-2024  c6\n", "2 cases\n"},
    {"Markdown", {"--output", "markdown", "--limit", "1", "--columns", "s,x"}, "", 0,
     "| s | x |\n| --- | ---: |\n| c0 | 0.25 |\n", "1 cases\n"},
    {"SummaryAndDictionary", {"--output", "none", "--summary", "--dictionary", "--limit", "7", "--columns", "x-s"}, "",
     0, "variable  format\nx         F8.2\nd         DATE11\ns         A4\n"
     "variable  valid         mean           sd          min          max\n"
     "x             6       2.7500       1.8708         0.25         5.25\n"
     "d             7  01-JAN-2024  00 00:02:09  01-JAN-2024  01-JAN-2024\n"
     "s             7\n", "7 cases\n"},
    {"ASummaryForEachPass", {"--output", "none", "--summary", "--passes", "2", "--limit", "2", "--columns", "i"},
     "/REWINDABLE", 0, "variable  valid  mean    sd  min  max\ni             2  0.50  0.71    0    1\n"
     "variable  valid  mean    sd  min  max\ni             2  0.50  0.71    0    1\n", "2 cases\n2 cases\n"},
    {"ASummaryOfStringsOnly", {"--output", "none", "--summary", "--limit", "2", "--columns", "s"}, "", 0,
     "variable  valid  mean  sd  min  max\ns             2\n", "2 cases\n"},
    {"PassesOverAStreamThatCannotRewind", {"--output", "none", "--passes", "2"}, "", 0, "",
     "warning: --passes 2: the stream is not REWINDABLE, so every pass after the first finds it ended\n"
     "50 cases\n0 cases\n"},
    {"TextAfterTheFullStop", {"--output", "none"}, "", 0, "",
     "warning: the text after the command's full stop is ignored: / PIPE = 'x'\n50 cases\n", {}, nullptr,
     " /PIPE = 'x'"},
    {"ByteOrderMarkOnStandardInput", {"--output", "none"}, "", 0, "", "50 cases\n", {}, "\xEF\xBB\xBF"},
    {"DictionaryFileThatCannotBeWritten", {"--output", "raw", "--dictionary-file", "/nonexistent/d.json"}, "", 2,
     "", "dravrun: --dictionary-file: cannot write /nonexistent/d.json: No such file or directory\n"},
};

class DravrunRuns : public testing::TestWithParam<DravrunRun> {};

TEST_P(DravrunRuns, GiveTheCasesAndMessagesAsked) {
  const DravrunRun& run = GetParam();
  ChildProcess feed(Generated("50", run.feeder));
  const std::string command = Command(Socket(feed), kGenerated, run.subcommands) + run.after;
  std::vector<std::string> args = run.options;
  if (run.before == nullptr) args.push_back(command);
  const ProcessResult r = RunProcess(Dravrun(args), run.before ? run.before + command : "");
  EXPECT_EQ(r.exitCode, run.exitCode) << r.err;
  EXPECT_EQ(r.out, run.out);
  EXPECT_EQ(r.err, run.err);
}

INSTANTIATE_TEST_SUITE_P(OverTcp, DravrunRuns, testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.what); });

// A reader that goes away (dravrun ... | head) ends the run quietly, as other filters do.
TEST(Dravrun, EndsQuietlyWhenTheReaderOfItsOutputGoesAway) {
  ChildProcess feed(Generated("10000000"));
  ChildProcess reader(Dravrun({Command(Socket(feed), kGenerated)}));
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line));
  reader.CloseOutput();
  const ProcessResult r = reader.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
}

// A reader gone before any output ends the run quietly at the end of the pass; a full disk fails it.
TEST(Dravrun, AnOutputThatCannotBeWrittenEndsTheRunAtTheEndOfThePass) {
  const struct {
    const char* output;
    bool fullDisk;
    int exitCode;
    const char* err;
  } cases[] = {
      {"csv", false, 0, "3 cases\n"},
      {"none", false, 0, "3 cases\n"},
      {"none", true, 3, "3 cases\nerror: cannot write the cases to standard output: No space left on device\n"},
  };
  for (const auto& c : cases) {
    ChildProcess feed(Generated("3"));
    std::vector<std::string> args =
        Dravrun({"--output", c.output, "--summary", "--passes", "2", Command(Socket(feed), kGenerated, "/REWINDABLE")});
    if (c.fullDisk) args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$@\" > /dev/full", "sh"});
    ChildProcess reader(args);
    if (!c.fullDisk) reader.CloseOutput();
    const ProcessResult r = reader.Wait();
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.err, c.err) << "--output " << c.output;
  }
}

// Separators, quotes, line breaks, wide and combining characters, --na text, from CRLF CSV: each output
// escapes them its way; the table aligns them as a terminal shows them (CJK two columns), widened for --na.
TEST(Dravrun, StringsAndMissingValuesComeOutRightInEveryFormat) {
  TempDir dir;
  const std::string csv = dir.WriteFile("in.csv",
                                        "\"a,b|c\",1.5\r\n\"say \"\"hi\"\"\",\r\n\"two\nlines\",2\r\n"
                                        "e\xcc\x81t\xc3\xa9,\r\n\xe6\x97\xa5\xe6\x9c\xac \xef\xbc\xa1,3\r\n");
  const struct {
    const char *output, *expected;
  } cases[] = {
      {"csv", "name,n\n\"a,b|c\",1.5\n\"say \"\"hi\"\"\",\"n,a|x\"\n\"two\nlines\",2.0\n"
              "e\xcc\x81t\xc3\xa9,\"n,a|x\"\n\xe6\x97\xa5\xe6\x9c\xac \xef\xbc\xa1,3.0\n"},
      {"tsv", "name\tn\na,b|c\t1.5\nsay \"hi\"\tn,a|x\ntwo\\nlines\t2.0\ne\xcc\x81t\xc3\xa9\tn,a|x\n"
              "\xe6\x97\xa5\xe6\x9c\xac \xef\xbc\xa1\t3.0\n"},
      {"table",
       "name              n\n"
       "------------  -----\n"
       "a,b|c           1.5\n"
       "say \"hi\"      n,a|x\n"
       "two\\nlines      2.0\n"
       "e\xcc\x81t\xc3\xa9           n,a|x\n"
       "\xe6\x97\xa5\xe6\x9c\xac \xef\xbc\xa1         3.0\n"},  // 日本 Ａ: seven columns
      {"markdown", "| name | n |\n| --- | ---: |\n| a,b\\|c | 1.5 |\n| say \"hi\" | n,a\\|x |\n| two\\nlines | 2.0 |\n"
                   "| e\xcc\x81t\xc3\xa9 | n,a\\|x |\n| \xe6\x97\xa5\xe6\x9c\xac \xef\xbc\xa1 | 3.0 |\n"},
  };
  for (const auto& c : cases) {
    ChildProcess feed(Dravfeed({"--pipe", dir.File("data"), "--csv", csv, "--variables", "name A12 n F4.1"}));
    const ProcessResult r = RunProcess(
        Dravrun({"--output", c.output, "--na", "n,a|x", Command(PipeSource(dir.File("data")), "name A12 n F4.1")}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.expected) << c.output;
    EXPECT_EQ(feed.Wait().exitCode, 0);
  }
}

TEST(Dravrun, PipePassesRewindAndSeekThroughTheRewindPipe) {
  const char kWeather[] = "time DATETIME17 station A8 temp F5.1 humidity F4 wind F5.1 pressure F7.1";
  TempDir dir;
  ChildProcess feed(Dravfeed({"--pipe", dir.File("data"), "--rewind-pipe", dir.File("rewind"), "--csv",
                              kExamples + "weather.csv", "--header", "--variables", kWeather}));
  ASSERT_NE(feed.LineAfter("dravfeed: serving "), "") << feed.Stop().err;
  const ProcessResult r = RunProcess(Dravrun({"--passes", "2", "--seek", "2998", "--output", "tsv",
                                              Command(PipeSource(dir.File("data"), dir.File("rewind")), kWeather)}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass = "25-MAR-2026 23:00\tHILLTOP\t6.2\t53\t5.1\t1012.8\n"
                           "25-MAR-2026 23:00\tVALLEY\t9.9\t76\t3.1\t1013.3\n";
  EXPECT_EQ(r.out, "time\tstation\ttemp\thumidity\twind\tpressure\n" + pass + pass);
  EXPECT_EQ(r.err, "2 cases\n2 cases\n");
  EXPECT_EQ(feed.Wait().exitCode, 0);
}

// "RWND" goes out, no one answers: a one-shot feeder took the data pipe along (dravfeed leaves a fresh one).
TEST(Dravrun, ARewindThatDeliversNothingExitsThree) {
  TempDir dir;
  const std::string data = dir.MakeFifo("data");
  const int rewindReader = open(dir.MakeFifo("rewind").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ScriptedFeeder feeder([&] {
    const int fd = child::OpenForWriting(data.c_str());
    child::Write(fd, Joined(TestRecords(3)), {});
    unlink(data.c_str());
    close(fd);
  });
  const ProcessResult r =
      RunProcess(Dravrun({"--passes", "2", "--columns", "s", PipeCommand(data, dir.File("rewind"))}));
  close(rewindReader);
  EXPECT_TRUE(feeder.RanToTheEnd());
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.out, "s\ncase0\ncase1\ncase2\n");
  EXPECT_NE(r.err.find("3 cases\n0 cases\nerror: pass 2 failed: the rewind could not reach the feeder"),
            std::string::npos) << r.err;
}

// A live stream from a dravfeed whose standard input the test holds open; only wait deadlines are timing.
class DravrunLive : public testing::TestWithParam<bool> {
 protected:
  std::vector<std::string> Start(std::vector<std::string> options) {
    feed_ = std::make_unique<ChildProcess>(Dravfeed({"--csv", "-", "--variables", "i F4 x F8.2",
                                                     GetParam() ? "--socket" : "--pipe",
                                                     GetParam() ? "0" : dir_.File("data")}), "", true);
    const std::string source =
        GetParam() ? Socket(*feed_) : (feed_->LineAfter("dravfeed: serving "), PipeSource(dir_.File("data")));
    options.push_back(Command(source, "i F4 x F8.2"));
    return Dravrun(options);
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> feed_;
};

TEST_P(DravrunLive, EachCaseIsPrintedWhileTheStreamGoesOn) {
  ChildProcess reader(Start({}));
  for (int i = 0; i < 3; ++i) {
    feed_->WriteInput(std::to_string(i) + "," + std::to_string(i) + ".5\n");
    EXPECT_EQ(reader.LineAfter(std::to_string(i) + ",", ChildProcess::kOut, 20000), std::to_string(i) + ".50");
  }
  feed_->CloseInput();
  const ProcessResult r = reader.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "3 cases\n");
  EXPECT_EQ(feed_->Wait().exitCode, 0);
}

TEST_P(DravrunLive, SummaryEveryAndProgressShowTheRunDuringThePass) {
  ChildProcess reader(Start({"--summary-every", "0.2", "--progress"}));
  feed_->WriteInput("1,10\n");
  // The pass has begun once its first case is out; a case that comes more
  // than the interval later brings the summary of both.
  EXPECT_EQ(reader.LineAfter("1,", ChildProcess::kOut, 20000), "10.00");
  usleep(300000);
  feed_->WriteInput("3,30\n");
  EXPECT_EQ(reader.LineAfter("summary after ", ChildProcess::kErr, 20000), "2 cases");
  EXPECT_EQ(reader.LineAfter("i ", ChildProcess::kErr, 20000), "            2     2.00     1.41      1      3");
  feed_->CloseInput();
  const ProcessResult r = reader.Wait();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("2 cases, "), std::string::npos) << "no progress: " << r.err;
  EXPECT_EQ(feed_->Wait().exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, DravrunLive, testing::Bool(),
                         [](const auto& info) { return info.param ? "Socket" : "Pipe"; });

// On a terminal (script(1) gives one) progress is on by default while the rows go elsewhere,
// redrawn on one line cleared at the end of the pass; rows on the same terminal keep it off.
TEST(Dravrun, ProgressOnATerminalIsRedrawnAndClearedUnlessTheRowsShareIt) {
  for (const bool rowsToFile : {true, false}) {
    TempDir dir;
    ChildProcess feed(Dravfeed({"--socket", "0", "--csv", "-", "--variables", "i F4 x F8.2"}), "1,1\n", true);
    const std::string command = BinaryPath("dravrun") + " '" + Command(Socket(feed), "i F4 x F8.2") + "'" +
                                (rowsToFile ? " > " + dir.MakeFifo("rows") : "");
    ChildProcess terminal({"/usr/bin/script", "-qec", command, "/dev/null"});
    std::unique_ptr<ChildProcess> rows;  // elsewhere: read from a FIFO
    if (rowsToFile) rows = std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/cat", dir.File("rows")});
    // The first case has been read once its row is out (the terminal ends lines "\r\n").
    ASSERT_EQ((rows ? *rows : terminal).LineAfter("1,", ChildProcess::kOut), rowsToFile ? "1.00" : "1.00\r")
        << terminal.Stop().out;
    usleep(150000);  // more than the meter's interval after the first case
    feed.WriteInput("2,2\n");
    feed.CloseInput();
    const ProcessResult r = terminal.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    if (rowsToFile) {
      EXPECT_NE(r.out.find("\r2 cases, "), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(" cases/s\x1b[K\r\x1b[K2 cases"), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.out.find("cases/s"), std::string::npos) << r.out;
    }
  }
}

// The README's pipe feeder, gated as docs/PROTOCOL.md tells.
TEST(DravrunWithPythonFeeders, ThePipeFeederServesSeekingPassesAndItsPipesGoAway) {
  TempDir dir;
  ChildProcess feed({"/usr/bin/env", "python3", kExamples + "pipe_feeder.py", dir.File("data"), dir.File("rewind")});
  std::string line;
  ASSERT_TRUE(feed.ReadLine(line)) << feed.Stop().err;
  ASSERT_EQ(line, "ready");
  const ProcessResult r = RunProcess(Dravrun(
      {"--passes", "3", "--seek", "97",
       Command(PipeSource(dir.File("data"), dir.File("rewind")), "n F8 label A8 value F8.2")}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pass = "97,case0097,24.25\n98,case0098,24.50\n99,case0099,24.75\n";
  EXPECT_EQ(r.out, "n,label,value\n" + pass + pass + pass);
  EXPECT_EQ(feed.Wait().exitCode, 0);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>()) << "a pipe was left behind";
}

TEST(DravrunWithPythonFeeders, TheDemoShowsTheTableAndTheSummary) {
  const ProcessResult r = RunProcess({"/bin/sh", kExamples + "demo.sh", DRAV_BINARY_DIR});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("             time  station    temp  humidity   wind  pressure\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("01-MAR-2026 00:00  NORTHPT    -1.1       100   11.2    1011.6\n"), std::string::npos);
  EXPECT_NE(r.out.find("station    3000\n"), std::string::npos);
  EXPECT_NE(r.err.find("3000 cases\n"), std::string::npos);
}

// Each record of a raw file as numpy reads it with the dtype the JSON dictionary describes.
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

TEST(DravrunRaw, RecordsAndTheirJsonDictionaryAreReadBackByNumpy) {
  TempDir dir;
  ChildProcess feed(Generated("50"));
  const ProcessResult r = RunProcess(Dravrun({"--output", "raw", "--seek", "5", "--limit", "2", "--columns", "x,s,i",
                                              "--dictionary", "json", "--dictionary-file", dir.File("cases.json"),
                                              Command(Socket(feed), kGenerated, "/REWINDABLE /SEEKABLE")}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.size(), 2u * 24u);
  dir.WriteFile("cases.bin", r.out);
  const ProcessResult numpy = RunProcess({"/usr/bin/python3", dir.WriteFile("read.py", kNumpyReader),
                                          dir.File("cases.json"), dir.File("cases.bin")});
  ASSERT_EQ(numpy.exitCode, 0) << numpy.err << "(Debian's python3-numpy: make deps installs it)";
  EXPECT_EQ(numpy.out, "5.25 c5 5.0\nnan c6 6.0\n");
}

// script(1) gives dravrun a terminal for both outputs (which ends lines "\r\n").
TEST(DravrunRaw, RefusesATerminalForItsRecords) {
  const std::string command = BinaryPath("dravrun") + " --output raw \"" + Command("/PIPE = '/tmp/none'", "a F8") + "\"";
  const ProcessResult r = RunProcess({"/usr/bin/script", "-qec", command, "/dev/null"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "dravrun: --output raw: standard output is a terminal; send the records to a file or a pipe\r\n");
}

// The host's socket tells a feeder that broke off (bad data after three cases) from one that finished.
TEST(Dravrun, AFeederThatBreaksOffTheStreamExitsThree) {
  ChildProcess feed(Dravfeed({"--socket", "0", "--variables", "a F8", "--csv", "-"}), "1\n2\n3\nnot a number\n");
  const ProcessResult r = RunProcess(Dravrun({"--output", "none", Command(Socket(feed), "a F8")}));
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err, "3 cases\nerror: the feeder broke off the stream after 3 cases\n");
  EXPECT_EQ(feed.Wait().exitCode, 1);
}

TEST(DravrunRefusal, EachRefusalExitsWithItsStatusAndSaysWhatIsWrong) {
  TempDir dir;
  dir.WriteFile("korvel.err", "2265\tOur own words for a bad format:\n2256\tNo such subcommand:\n");
  dir.WriteFile("talvex.err", "");
  const std::string none = "/PIPE = '/tmp/none'";
  const std::string good = Command(none, "a F8");
  const std::string file = dir.WriteFile("data.csv", "1,2,3\n4,5,6\n7,8\n");  // 16 bytes: two records
  const char kNoStream[] = "dravrun: the command names no stream: add /PIPE = 'PATH' or /SOCKET = PORT\n";
  const char kNoVariables[] = "dravrun: the command's /VARIABLES list is empty: name each variable and its format, "
                              "as in /VARIABLES = id F8 name A20\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string err;  // the whole of it, or its start when it ends in "..."
  } cases[] = {
      {{"GET DATA /TYPE = STREAM /VARIABLES = a F8 ."}, "", 2, kNoStream},
      {{"GET DATA /TYPE = STREAM /HOST = localhost /VARIABLES = a F8 ."}, "", 2, kNoStream},
      {{"GET DATA /TYPE = STREAM /VARIABLES = '/tmp/PIPE' /REWINDABLE ."}, "", 2, kNoStream},
      {{"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = ... ."}, "", 2, kNoVariables},
      {{"GET DATA /TYPE = STREAM /PIPE = '/tmp/none' /VARIABLES = /SEEKABLE ."}, "", 2, kNoVariables},
      {{"GET DATA /TYPE = STREAM /socket = 5000 /variables ."}, "", 2, kNoVariables},
      {{"--plugin", "/nonexistent/libplugin.so", good}, "", 2, "dravrun: cannot load the plug-in /nonexistent/libplugin.so..."},
      {{"--catalogs", "/nonexistent", good}, "", 2, "dravrun: --catalogs: /nonexistent is not a folder\n"},
      {{"-f", "/nonexistent/command"}, "", 2, "dravrun: -f: cannot read /nonexistent/command..."},
      {{}, "  \n", 2, "dravrun: no command given..."},
      {{"--dictionary", "xml", good}, "", 2, "dravrun: --dictionary: expects text or json, not 'xml'\nTry 'dravrun --help'.\n"},
      {{"--plugin", "/nonexistent/plugin.so", "--seek", "3", good}, "", 2,
       "dravrun: --seek: this stream cannot seek; the command needs /SEEKABLE (written after /REWINDABLE)\n"},
      {{"GET DATA /TYPE = TXT /FILE = 'x.txt'."}, "", 1, "error: This is not a stream command: it must begin with "
       "GET DATA /TYPE = STREAM followed by its subcommands, each after a slash.\n"},
      {{"--catalogs", dir.Path(), "GET DATA /TYPE = STREAM /SOCKETS = 5014 /VARIABLES = a F8 ."}, "", 1,
       "error: [2256] No such subcommand: SOCKETS\n"},
      {{Command(none, "a F99")}, "", 1, "error: [2265] ..."},
      {{"--catalogs", dir.Path(), Command(none, "b Q8")}, "", 1, "error: [2265] Our own words for a bad format: b\n"},
      {{Command("/PIPE = '" + dir.Path() + "'", "a F8")}, "", 2,
       "dravrun: /PIPE names the folder " + dir.Path() + ", not a named pipe\n"},
      {{"--output", "none", Command("/PIPE = '" + file + "'", "a F8")}, "", 0,
       "warning: /PIPE names " + file + ", a regular file, not a named pipe: its bytes are read as records\n2 cases\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (c.exitCode == 2 && args.size() == 1) args.insert(args.begin(), {"--plugin", "/nonexistent/plugin.so"});
    const ProcessResult r = RunProcess(Dravrun(args), c.input);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.err << "\n" << r.err;
    if (c.err.size() > 3 && c.err.compare(c.err.size() - 3, 3, "...") == 0)
      EXPECT_EQ(r.err.substr(0, c.err.size() - 3), c.err.substr(0, c.err.size() - 3));
    else
      EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace drav::test
