// Sources that grow while they are served, in the process: the case log
// across its spill boundary, live CSV input through a real pipe cut into
// pieces of every size, paced cases, and writes that fail or meet a stale
// errno. (A cut last line, bad values found
// late and captures are seen through dravfeed.)
#include "feeder/CaseLog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <cerrno>
#include <random>
#include <thread>

#include "feeder/GeneratedCases.h"
#include "feeder/LiveCsvInput.h"
#include "feeder/FeederError.h"
#include "feeder/PacedCases.h"
#include "feeder/PosixIo.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"

namespace drav {
namespace feed {
namespace {

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"

class CaseLogTest : public ::testing::Test {
 protected:
  std::string Rendered(const CaseSource& source, std::int64_t first, std::int64_t count) const {
    std::string bytes(static_cast<std::size_t>(count) * kRecordBytes, '\0');
    source.Render(first, count, &bytes[0]);
    return bytes;
  }
  std::string Expected(std::int64_t first, std::int64_t count) const { return Rendered(generated_, first, count); }

  test::Watchdog watchdog_{60, "a case log test"};
  test::TempDir tmp_;
  VariableList list_ = VariableList::Parse("x F8 s A3");
  RecordBuilder builder_{list_, ByteOrder::kNative};
  GeneratedCases generated_{builder_, 1000};
};

TEST_F(CaseLogTest, RendersEveryRunExactlyAcrossTheSpillBoundaryAndRemovesItsFile) {
  setenv("TMPDIR", tmp_.Path().c_str(), 1);
  for (std::size_t capRecords : {0u, 1u, 7u, 100u, 5000u}) {
    SCOPED_TRACE(capRecords);
    std::string folder;
    {
      CaseLog log(kRecordBytes, capRecords * kRecordBytes);
      // Batches of odd sizes, so the cap falls inside one.
      for (std::int64_t first = 0, size = 1; first < 1000; first += size, size = size * 3 % 97 + 1) {
        log.AddRendered(generated_, first, std::min<std::int64_t>(size, 1000 - first));
        log.Publish();
      }
      ASSERT_EQ(log.CaseCount(), 1000);
      for (auto run : {std::pair<int, int>{0, 1000}, {0, 1}, {6, 3}, {99, 2}, {500, 500}, {999, 1}})
        EXPECT_EQ(Rendered(log, run.first, run.second), Expected(run.first, run.second)) << run.first;
      folder = log.SpillFolder();
      EXPECT_EQ(folder.empty(), capRecords >= 1000);
    }
    EXPECT_TRUE(folder.empty() || access(folder.c_str(), F_OK) != 0) << folder << " was left behind";
  }
  unsetenv("TMPDIR");
}

// A capture that cannot be written (a full disk) fails the input, and the
// servers waiting on the log still learn that it has ended.
TEST_F(CaseLogTest, AnInputThatFailsAtItsEndStillEndsTheLog) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  CaseLog log(kRecordBytes);
  log.CopyTo(full);
  log.AddRendered(generated_, 0, 3);
  EXPECT_THROW(log.EndInput(), FeederError);
  EXPECT_FALSE(log.MoreMayCome());
  pollfd change{log.ChangeFd(), POLLIN, 0};
  EXPECT_EQ(poll(&change, 1, 0), 1) << "servers were not woken";
  close(full);
}

// errno may hold EINTR from an earlier call; a write that worked is not
// taken for an interrupted one (which would send its bytes again).
TEST(PosixIoTest, WriteAllIsNotMisledByAStaleEintr) {
  test::Watchdog watchdog(10, "a write after a stale EINTR");  // a write repeated for ever fills the pipe
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  errno = EINTR;
  EXPECT_EQ(posix::WriteAll(ends[1], "abc", 3).value, 3);
  char got[8] = {};
  EXPECT_EQ(read(ends[0], got, sizeof got), 3);
  close(ends[0]);
  close(ends[1]);
}

TEST_F(CaseLogTest, PacedCasesArriveInOrderAndEndTheInput) {
  CaseLog paced(kRecordBytes, 0);
  EXPECT_EQ(FeedPaced(generated_, 0, paced), 1000);
  EXPECT_FALSE(paced.MoreMayCome());
  EXPECT_EQ(Rendered(paced, 0, 1000), Expected(0, 1000));
}

// Writes `text` into a real pipe in pieces of `piece` bytes (0: random
// sizes) while ReadLiveCsv reads the other end into `log`.
LiveInputResult ReadThroughPipe(const std::string& text, std::size_t piece, const RecordBuilder& builder, CaseLog& log) {
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  std::thread writer([&] {
    std::mt19937 random(7);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t n = std::min(piece ? piece : 1 + random() % 300, text.size() - at);
      at += static_cast<std::size_t>(std::max<ssize_t>(write(ends[1], text.data() + at, n), 0));
    }
    close(ends[1]);
  });
  const LiveInputResult result = ReadLiveCsv(ends[0], builder, log, LiveInputOptions());
  writer.join();
  close(ends[0]);
  return result;
}

TEST_F(CaseLogTest, LiveCsvGivesTheSameCasesHoweverTheInputIsCut) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",\"c" + std::to_string(i) + "\"\r\n";
  for (std::size_t piece : {1u, 2u, 17u, 4096u, 0u}) {
    SCOPED_TRACE(piece);
    CaseLog log(kRecordBytes, 64 * kRecordBytes);
    const LiveInputResult result = ReadThroughPipe(text, piece, builder_, log);
    EXPECT_EQ(result.cases, 300);
    EXPECT_EQ(result.cutLine, 0);
    EXPECT_FALSE(log.MoreMayCome());
    EXPECT_EQ(Rendered(log, 0, 300), Expected(0, 300));
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
