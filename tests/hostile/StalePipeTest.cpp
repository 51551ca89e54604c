// A stale data pipe: a FIFO at the path that no feeder will ever open for
// writing (one left behind by a feeder killed with SIGKILL). Neither the
// stream's open nor a re-open after a rewind or a seek may wait for it for
// ever: each gives up when the allowance runs out, with the failure a missing
// pipe gives, and leaves no descriptor and no thread behind. The tests
// shorten the allowance through the plug-in's test seam; the watchdog turns
// an unbounded wait into a failure.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "stream/BoundedFifoOpen.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

constexpr int kShortAllowanceMs = 300;

int EntriesOf(const char* folder) {
  int count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}
int OpenDescriptors() { return EntriesOf("/proc/self/fd"); }
int Threads() { return EntriesOf("/proc/self/task"); }
// A joined thread may stay listed for a moment while the kernel finishes its
// exit: the count is read again until it comes down to `expected`, for up to
// 5 s. A thread that leaked stays and fails the comparison.
int ThreadsOnceSettled(int expected) {
  int count = Threads();
  for (int i = 0; i < 500 && count > expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = Threads();
  }
  return count;
}

std::string Command(const std::string& pipe) {
  return "GET DATA /TYPE = STREAM /PIPE = '" + pipe + "' /VARIABLES = " + kTestVariables + ".";
}

class StalePipe : public ::testing::Test {
 protected:
  StalePipe() { fifo::SetDataPipeAllowanceMsForTesting(kShortAllowanceMs); }
  ~StalePipe() override { fifo::SetDataPipeAllowanceMsForTesting(0); }

  Watchdog watchdog_{60, "stale data pipe"};
  TempDir dir_;
};

TEST_F(StalePipe, OpenGivesUpWith2279AndLeavesNothingBehind) {
  const std::string stale = dir_.MakeFifo("stale.pipe");
  const int descriptors = OpenDescriptors();
  const int threads = Threads();

  HostRun run = RunHostCommand(Command(stale));

  EXPECT_FALSE(run.accepted);
  EXPECT_EQ(run.source, nullptr);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_NE(run.messages[0].first.find("[2279]"), std::string::npos) << run.messages[0].first;
  EXPECT_NE(run.messages[0].first.find(stale), std::string::npos) << run.messages[0].first;
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(ThreadsOnceSettled(threads), threads);
  struct stat info {};
  EXPECT_EQ(stat(stale.c_str(), &info), 0) << "a FIFO the plug-in never read is not its to remove";
}

TEST_F(StalePipe, WriterThatComesWithinTheAllowanceIsWaitedFor) {
  fifo::SetDataPipeAllowanceMsForTesting(5000);
  const std::string path = dir_.MakeFifo("late.pipe");
  const std::vector<std::string> records = TestRecords(3);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string bytes = Joined(records);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  });
  auto source = OpenSource(path, nullptr, false, false);
  writer.join();
  EXPECT_EQ(ReadPass(*source), records);
}

// The feeder took "RWND" or "SEEK" and went away: the FIFO standing at the
// data path is never opened for writing.
TEST_F(StalePipe, ReopenAfterRewindOrSeekGivesUpAndLeavesNothingBehind) {
  const std::string data = dir_.MakeFifo("data.pipe");
  const std::string rewind = dir_.MakeFifo("rewind.pipe");
  // Holding the rewind pipe open for reading lets every message through.
  const int control = open(rewind.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(control, 0);
  const std::vector<std::string> records = TestRecords(3);
  std::thread writer([&] {
    const int fd = open(data.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string bytes = Joined(records);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  });
  const int descriptors = OpenDescriptors();
  const int threads = Threads() - 1;  // less the writer's, still running
  {
    auto source = OpenSource(data, rewind.c_str(), true, false);
    writer.join();
    EXPECT_EQ(ReadPass(*source), records);
    ASSERT_EQ(source->RowCount(), 3);
    // The first pass removed its pipe; a stale one takes its place.
    dir_.MakeFifo("data.pipe");

    EXPECT_TRUE(ReadPass(*source).empty()) << "rewind";
    EXPECT_EQ(source->RowCount(), 0) << "a rewind that reopened nothing ends its pass at once";
    EXPECT_TRUE(ReadPass(*source, -1, 2).empty()) << "seek";
    EXPECT_EQ(source->RowCount(), 0) << "a seek that reopened nothing leaves the count alone";
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(ThreadsOnceSettled(threads), threads);

  char sent[64];
  const ssize_t length = read(control, sent, sizeof sent);
  close(control);
  ASSERT_EQ(length, 4 + 12);
  EXPECT_EQ(std::string(sent, 8), "RWNDSEEK");
}

}  // namespace
}  // namespace test
}  // namespace drav
