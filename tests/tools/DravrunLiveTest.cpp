// dravrun reading a live stream: dravfeed reads its CSV from a named pipe
// that the test holds open, so the stream cannot end while the test looks
// for what dravrun has printed. Nothing here depends on timing but the
// watchdog: a case or a summary that never shows up fails the test.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/ChildProcess.h"
#include "tests/tools/ToolTestSupport.h"

namespace dravtest {
namespace {

constexpr int kWatchdogMs = 20000;

class DravrunLive : public testing::TestWithParam<const char*> {
 protected:
  // Starts dravfeed on the transport under test, reading CSV from a named
  // pipe, and opens the pipe's write end (the producer's).
  void StartFeeder() {
    const std::string input = dir_.Path("input");
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    std::vector<std::string> args = {BinaryPath("dravfeed"), "--linger", "0.3", "--variables",
                                     "i F4 x F8.2", "--csv", input};
    if (Socket())
      args.insert(args.end(), {"--socket", "0"});
    else
      args.insert(args.end(), {"--pipe", dir_.Path("data")});
    feeder_ = std::make_unique<ChildProcess>(args);
    producer_ = open(input.c_str(), O_WRONLY | O_CLOEXEC);  // meets dravfeed's open
    ASSERT_GE(producer_, 0);
    std::string line;
    while (feeder_->ReadLine(line, ChildProcess::kErr, kWatchdogMs)) {
      if (line.rfind("dravfeed: listening on port ", 0) == 0)
        source_ = "/SOCKET = " + line.substr(28, line.find(',') - 28);
      if (line.rfind("dravfeed: serving ", 0) == 0) source_ = "/PIPE = '" + dir_.Path("data") + "'";
      if (!source_.empty()) return;
    }
    FAIL() << "dravfeed did not start";
  }
  bool Socket() const { return std::string(GetParam()) == "socket"; }
  std::vector<std::string> Run(std::vector<std::string> args) {
    args.push_back("GET DATA /TYPE = STREAM " + source_ + " /VARIABLES = i F4 x F8.2 .");
    return Dravrun(args);
  }
  void Produce(const std::string& text) { ASSERT_EQ(write(producer_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }
  void EndInput() {
    close(producer_);
    producer_ = -1;
  }
  ~DravrunLive() override {
    if (producer_ >= 0) close(producer_);
  }
  // The next line of `stream` that starts with `prefix`; empty if none comes.
  static std::string NextLine(ChildProcess& child, const std::string& prefix,
                              ChildProcess::Stream stream = ChildProcess::kOut) {
    std::string line;
    while (child.ReadLine(line, stream, kWatchdogMs))
      if (line.rfind(prefix, 0) == 0) return line;
    return "";
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> feeder_;
  int producer_ = -1;
  std::string source_;
};

TEST_P(DravrunLive, EachCaseIsPrintedWhileTheStreamGoesOn) {
  StartFeeder();
  ChildProcess reader(Run({}));
  for (int i = 0; i < 3; ++i) {
    Produce(std::to_string(i) + "," + std::to_string(i) + ".5\n");
    const std::string row = std::to_string(i) + "," + std::to_string(i) + ".50";
    EXPECT_EQ(NextLine(reader, std::to_string(i) + ","), row) << "case " << i << " was held back";
  }
  EndInput();
  const ProcessResult r = reader.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "3 cases\n");
  EXPECT_EQ(feeder_->Wait().exitCode, 0);
}

TEST_P(DravrunLive, SummaryEveryShowsTheRunningSummaryDuringThePass) {
  StartFeeder();
  ChildProcess reader(Run({"--summary-every", "0.2"}));
  Produce("1,10\n");
  // The pass has begun once its first case is out; a case that comes more
  // than the interval later brings the summary of both.
  EXPECT_EQ(NextLine(reader, "1,"), "1,10.00");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Produce("3,30\n");
  EXPECT_EQ(NextLine(reader, "summary after ", ChildProcess::kErr), "summary after 2 cases");
  EXPECT_EQ(NextLine(reader, "variable ", ChildProcess::kErr), "variable  valid     mean       sd    min    max");
  EXPECT_EQ(NextLine(reader, "i ", ChildProcess::kErr), "i             2     2.00     1.41      1      3");
  EndInput();
  const ProcessResult r = reader.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(feeder_->Wait().exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, DravrunLive, testing::Values("socket", "pipe"),
                         [](const testing::TestParamInfo<const char*>& info) { return info.param; });

}  // namespace
}  // namespace dravtest
