// dravfeed as a real process: options, exit statuses, both transports,
// signals and the cleaning up of its FIFOs.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace {

using feedtest::FeedProcess;
using feedtest::RunFeed;

constexpr std::size_t kRecordBytes = 16;  // "id F8 day DATE"

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Refusal {
  std::vector<std::string> arguments;
  const char* message;
};

void ExpectRefused(const Refusal& refusal, int status) {
  std::string output;
  SCOPED_TRACE(refusal.message);
  EXPECT_EQ(RunFeed(refusal.arguments, output), status);
  EXPECT_TRUE(Contains(output, refusal.message)) << output;
}

TEST(DravfeedToolTest, HelpAndVersionExitZero) {
  feedtest::Watchdog watchdog;
  std::string output;
  EXPECT_EQ(RunFeed({"--help"}, output), 0);
  for (const char* part : {"--pipe PATH", "--rewind-pipe", "--socket PORT", "--byte-order",
                           "Examples:", "Exit status:", "--linger"})
    EXPECT_TRUE(Contains(output, part)) << part;
  EXPECT_EQ(RunFeed({"--version"}, output), 0);
  EXPECT_TRUE(Contains(output, "dravfeed ")) << output;
}

TEST(DravfeedToolTest, UsageErrorsExitTwoNamingTheOption) {
  feedtest::Watchdog watchdog;
  const std::vector<std::string> vars = {"--variables", "x F8"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.end(), vars.begin(), vars.end());
    return more;
  };
  const Refusal refusals[] = {
      {with({"--generate", "3"}), "give one of --pipe PATH or --socket PORT"},
      {with({"--pipe", "p", "--socket", "0", "--generate", "3"}), "give one of --pipe"},
      {with({"--socket", "0"}), "give one of --csv FILE, --generate N, --replay FILE or --from URL"},
      {with({"--socket", "0", "--generate", "3", "--create"}), "--create goes with --publish"},
      {with({"--socket", "0", "--generate", "3", "--snapshot"}), "--snapshot goes with --from"},
      {with({"--socket", "0", "--from", "nats://h:1/s", "--snapshot", "--follow"}),
       "give one of --snapshot or --follow"},
      {with({"--socket", "0", "--from", "nats://h:1/s", "--capture", "c"}), "--capture goes not with --from"},
      {with({"--publish", "nats://h:1/s", "--socket", "0", "--generate", "3"}), "--publish serves no reader"},
      {with({"--publish", "nats://h:1/s", "--from", "nats://h:1/t"}), "--publish takes its cases from"},
      {with({"--socket", "0", "--generate", "3", "--replay", "c"}), "give one of --csv FILE, --generate N"},
      {{"--socket", "0", "--replay", "c", "--variables", "x F8"}, "--variables goes not with --replay"},
      {with({"--socket", "0", "--generate", "3", "--follow"}), "--follow goes with --csv FILE"},
      {with({"--socket", "0", "--csv", "-", "--follow"}), "--follow goes with --csv FILE"},
      {with({"--socket", "0", "--csv", "-", "--rate", "5"}), "--rate goes with --generate"},
      {with({"--socket", "0", "--generate", "3", "--rate", "fast"}), "--rate takes a number"},
      {with({"--socket", "0", "--generate", "3", "--memory", "-1"}), "--memory takes a number"},
      {{"--socket", "0", "--generate", "3"}, "--variables is required"},
      {with({"--socket", "70000", "--generate", "3"}), "--socket takes a whole number"},
      {with({"--socket", "0", "--generate", "-1"}), "--generate takes a whole number"},
      {with({"--socket", "0", "--generate", "3", "--byte-order", "big"}), "--byte-order takes"},
      {with({"--socket", "0", "--generate", "3", "--rewind-pipe", "r"}), "--rewind-pipe goes with --pipe"},
      {with({"--pipe", "p", "--generate", "3", "--bind", "::"}), "--bind goes with --socket"},
      {with({"--socket", "0", "--generate", "3", "--linger", "soon"}), "--linger takes"},
      {with({"--socket", "0", "--generate", "3", "--header"}), "--header goes with --csv"},
      {with({"--socket", "0", "--generate", "3", "--frobnicate"}), "unknown option \"--frobnicate\""},
      {{"--socket"}, "--socket needs a value"},
  };
  for (const Refusal& refusal : refusals) ExpectRefused(refusal, 2);
}

// Bad CSV data, which a live input may reveal late, is in DravfeedLiveTest.
TEST(DravfeedToolTest, RefusedInputExitsOneWithLineAndColumn) {
  feedtest::Watchdog watchdog;
  feedtest::TempDir dir;
  const Refusal refusals[] = {
      {{"--socket", "0", "--variables", "id Q8", "--generate", "1"}, "has an unknown keyword"},
      {{"--socket", "0", "--variables", "id F8", "--csv", dir.Path("missing.csv")},
       "cannot open"},
      {{"--socket", "0", "--replay", dir.Path("missing.cap")}, "cannot open the capture file"},
  };
  for (const Refusal& refusal : refusals) ExpectRefused(refusal, 1);
}

TEST(DravfeedToolTest, PipeThatCannotBeMadeExitsThree) {
  feedtest::Watchdog watchdog;
  ExpectRefused({{"--pipe", "/nonexistent-dir/data", "--variables", "x F8", "--generate", "1"},
                 "/nonexistent-dir/data"},
                3);
}

TEST(DravfeedToolTest, ServesCsvFromStandardInputOverPipesWithRewindAndSeek) {
  feedtest::Watchdog watchdog;
  feedtest::TempDir dir;
  std::string data = dir.Path("data"), rewind = dir.Path("rewind");
  FeedProcess feed({"--pipe", data, "--rewind-pipe", rewind, "--variables", "id F8 day DATE",
                    "--csv", "-", "--header", "--linger", "0.3"},
                   "id,day\r\n1,2024-03-01\r\n2,\r\n3,1970-01-02T00:00:00\r\n");
  feed.WaitForLine("serving live input");
  int fd = feedtest::OpenForReading(data);
  std::string pass = feedtest::ReadToEnd(fd);
  close(fd);
  ASSERT_EQ(pass.size(), 3 * kRecordBytes);
  EXPECT_EQ(feedtest::NumberAt(pass, kRecordBytes, 0, 8), 1709251200.0);
  EXPECT_TRUE(std::isnan(feedtest::NumberAt(pass, kRecordBytes, 1, 8)));
  EXPECT_EQ(feedtest::NumberAt(pass, kRecordBytes, 2, 8), 86400.0);
  feedtest::SendThroughRewindPipe(rewind, feedtest::SeekMessage(2));
  fd = feedtest::OpenForReading(data);
  pass = feedtest::ReadToEnd(fd);
  close(fd);
  ASSERT_EQ(pass.size(), kRecordBytes);
  EXPECT_EQ(feedtest::NumberAt(pass, kRecordBytes, 0, 0), 3.0);
  feedtest::SendThroughRewindPipe(rewind, drav::wire::kRewind);
  fd = feedtest::OpenForReading(data);
  EXPECT_EQ(feedtest::ReadToEnd(fd).size(), 3 * kRecordBytes);
  close(fd);
  EXPECT_EQ(feed.Wait(), 0) << feed.Stderr();
  EXPECT_TRUE(dir.Entries().empty()) << "dravfeed left a FIFO behind";
}

TEST(DravfeedToolTest, ServesGeneratedCasesOverTcpInTheOtherByteOrder) {
  feedtest::Watchdog watchdog;
  FeedProcess feed({"--socket", "0", "--variables", "id F8 day DATE", "--generate", "100",
                    "--byte-order", "swapped", "--linger", "0.3"});
  int port = feed.Port();
  int fd = feedtest::ConnectLoopback(port);
  std::string all = feedtest::ReadToEnd(fd);
  close(fd);
  ASSERT_EQ(all.size(), drav::wire::kProbeBytes + 100 * kRecordBytes);
  std::int32_t probe;
  std::memcpy(&probe, all.data(), sizeof probe);
  EXPECT_EQ(probe, 1 << 24);
  std::string records = all.substr(drav::wire::kProbeBytes);
  EXPECT_EQ(feedtest::NumberAt(records, kRecordBytes, 99, 0, true), 99.0);
  EXPECT_EQ(feedtest::NumberAt(records, kRecordBytes, 1, 8, true), 1704067200.0 + 60);
  fd = feedtest::ConnectLoopback(port);
  feedtest::SendAll(fd, feedtest::SeekMessage(98));
  records = feedtest::ReadToEnd(fd);
  feedtest::SendAll(fd, drav::wire::kStop);
  close(fd);
  ASSERT_EQ(records.size(), 2 * kRecordBytes);
  EXPECT_EQ(feedtest::NumberAt(records, kRecordBytes, 0, 0, true), 98.0);
  EXPECT_EQ(feed.Wait(), 0) << feed.Stderr();
}

TEST(DravfeedToolTest, SignalsEndItAndItsFifosGoWithIt) {
  feedtest::Watchdog watchdog;
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    feedtest::TempDir dir;
    FeedProcess feed({"--pipe", dir.Path("data"), "--rewind-pipe", dir.Path("rewind"),
                      "--variables", "x F8", "--generate", "5", "--forever"});
    feed.WaitForLine("serving 5 cases");
    EXPECT_EQ(dir.Entries().size(), 2u);
    feed.Signal(signal);
    EXPECT_EQ(feed.Wait(), 128 + signal);
    EXPECT_TRUE(dir.Entries().empty()) << "dravfeed left a FIFO behind";
  }
}

}  // namespace
