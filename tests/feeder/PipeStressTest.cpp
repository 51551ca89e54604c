// Many rewinds and seeks in a row over pipes against the real dravfeed
// process: every one must deliver the asked cases. Prints the figure; the
// elapsed time is only reported, never asserted.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace {

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"
constexpr std::int64_t kCases = 20000;
constexpr int kRounds = 200;

TEST(PipeStressTest, TwoHundredRewindsAndTwoHundredSeeksWithoutAFailure) {
  feedtest::Watchdog watchdog(100);
  feedtest::TempDir dir;
  std::string data = dir.Path("data"), rewind = dir.Path("rewind");
  feedtest::FeedProcess feed({"--pipe", data, "--rewind-pipe", rewind, "--variables", "x F8 s A3",
                              "--generate", std::to_string(kCases), "--linger", "1"});
  feed.WaitForLine("serving");
  auto started = std::chrono::steady_clock::now();
  int fd = feedtest::OpenForReading(data);
  feedtest::ReadToEnd(fd);
  close(fd);
  int rewindFailures = 0, seekFailures = 0;
  for (int round = 0; round < kRounds; ++round) {
    feedtest::SendThroughRewindPipe(rewind, drav::wire::kRewind);
    fd = feedtest::OpenForReading(data);
    std::string pass = feedtest::ReadToEnd(fd);
    close(fd);
    if (pass.size() != kCases * kRecordBytes ||
        feedtest::NumberAt(pass, kRecordBytes, 0, 0) != 0.0 ||
        feedtest::NumberAt(pass, kRecordBytes, kCases - 1, 0) != kCases - 1)
      ++rewindFailures;
  }
  for (int round = 0; round < kRounds; ++round) {
    std::int64_t target = (round * 7919) % kCases;
    feedtest::SendThroughRewindPipe(rewind, feedtest::SeekMessage(target));
    fd = feedtest::OpenForReading(data);
    // A reader that seeks reads a little and moves on: most passes are cut.
    std::size_t want = std::min<std::int64_t>(100, kCases - target) * kRecordBytes;
    std::string records = feedtest::ReadExactly(fd, want);
    close(fd);
    if (records.size() != want || feedtest::NumberAt(records, kRecordBytes, 0, 0) != target)
      ++seekFailures;
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d rewinds (full passes of %lld cases) and %d seeks over pipes: %d failures, %.2f s\n",
              kRounds, static_cast<long long>(kCases), kRounds, rewindFailures + seekFailures,
              seconds);
  EXPECT_EQ(rewindFailures, 0);
  EXPECT_EQ(seekFailures, 0);
  EXPECT_EQ(feed.Wait(), 0) << feed.Stderr();
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
