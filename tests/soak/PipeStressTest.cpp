// Many rewinds and seeks in a row over pipes against the real dravfeed
// process: every one must deliver the asked cases. Prints the figure; the
// elapsed time is only reported, never asserted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"
constexpr std::int64_t kCases = 20000;
constexpr int kRounds = 200;

// x of the first record of `records`: the number of the case it holds.
double FirstCase(const std::string& records) {
  double x = -1;
  if (records.size() >= sizeof x) std::memcpy(&x, records.data(), sizeof x);
  return x;
}

TEST(PipeStress, TwoHundredRewindsAndTwoHundredSeeksWithoutAFailure) {
  Watchdog watchdog(100, "the pipe stress run");
  TempDir dir;
  ChildProcess feed({BinaryPath("dravfeed"), "--pipe", dir.File("data"), "--rewind-pipe", dir.File("rewind"),
                     "--variables", "x F8 s A3", "--generate", std::to_string(kCases), "--linger", "1"});
  ASSERT_NE(feed.LineAfter("dravfeed: serving "), "");
  const auto started = std::chrono::steady_clock::now();
  WireReader reader(dir.File("data"), dir.File("rewind"));
  reader.Begin();
  reader.ReadToEnd();
  int rewindFailures = 0, seekFailures = 0;
  for (int round = 0; round < kRounds; ++round) {
    reader.Rewind();
    const std::string pass = reader.ReadToEnd();
    if (pass.size() != kCases * kRecordBytes || FirstCase(pass) != 0.0 ||
        FirstCase(pass.substr(pass.size() - kRecordBytes)) != kCases - 1)
      ++rewindFailures;
  }
  for (int round = 0; round < kRounds; ++round) {
    const std::int64_t target = (round * 7919) % kCases;
    reader.Seek(target);
    // A reader that seeks reads a little and moves on: most passes are cut.
    const std::size_t want = std::min<std::int64_t>(100, kCases - target) * kRecordBytes;
    const std::string records = reader.Read(want);
    if (records.size() != want || FirstCase(records) != target) ++seekFailures;
  }
  reader.End();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d rewinds (full passes of %lld cases) and %d seeks over pipes: %d failures, %.2f s\n", kRounds,
              static_cast<long long>(kCases), kRounds, rewindFailures + seekFailures, seconds);
  EXPECT_EQ(rewindFailures, 0);
  EXPECT_EQ(seekFailures, 0);
  EXPECT_EQ(feed.Wait().exitCode, 0);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>());
}

}  // namespace
}  // namespace test
}  // namespace drav
