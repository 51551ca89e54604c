// The pipe server against a reader written from the protocol: real FIFOs,
// the server on a thread.
#include "feeder/PipeServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "feeder/FeederError.h"
#include "feeder/GeneratedCases.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace drav {
namespace feed {
namespace {

using feedtest::OpenForReading;
using feedtest::ReadToEnd;
using feedtest::SendThroughRewindPipe;

class PipeServerTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kRecordBytes = 16;  // x F8, s A3

  PipeServerTest()
      : list_(VariableList::Parse("x F8 s A3")), builder_(list_, ByteOrder::kNative) {}

  void Start(std::int64_t cases, bool withRewind, int lingerMs = 60000) {
    cases_ = std::make_unique<GeneratedCases>(builder_, cases);
    ServeOptions options;
    options.cancel = &cancel_;
    options.lingerMs = lingerMs;
    server_ = std::make_unique<PipeServer>(*cases_, ByteOrder::kNative, DataPath(),
                                           withRewind ? RewindPath() : "", options);
    thread_ = std::make_unique<feedtest::ServingThread>([this] { return server_->Serve(); },
                                                        &cancel_);
  }
  void Stop() {
    thread_.reset();
    server_.reset();
  }
  ~PipeServerTest() override { Stop(); }

  std::string DataPath() const { return dir_.Path("data"); }
  std::string RewindPath() const { return dir_.Path("rewind"); }

  // Opens the data pipe and reads the pass to its end.
  std::string ReadPass() {
    int fd = OpenForReading(DataPath());
    std::string data = ReadToEnd(fd);
    close(fd);
    return data;
  }
  double X(const std::string& data, std::size_t record) {
    return feedtest::NumberAt(data, kRecordBytes, record, 0);
  }
  void ExpectCasesFrom(const std::string& data, std::int64_t first, std::int64_t total) {
    ASSERT_EQ(data.size() % kRecordBytes, 0u);
    ASSERT_EQ(static_cast<std::int64_t>(data.size() / kRecordBytes), total - first);
    if (data.empty()) return;
    EXPECT_EQ(X(data, 0), static_cast<double>(first));
    EXPECT_EQ(X(data, data.size() / kRecordBytes - 1), static_cast<double>(total - 1));
    EXPECT_EQ(data.substr(8, 3), ("c" + std::to_string(first) + "  ").substr(0, 3));
  }

  feedtest::Watchdog watchdog_;
  feedtest::TempDir dir_;
  VariableList list_;
  RecordBuilder builder_;
  volatile std::sig_atomic_t cancel_ = 0;
  std::unique_ptr<GeneratedCases> cases_;
  std::unique_ptr<PipeServer> server_;
  std::unique_ptr<feedtest::ServingThread> thread_;
};

TEST_F(PipeServerTest, OnePassWithoutRewindPipeThenTheReaderIsDone) {
  Start(1000, false);
  ExpectCasesFrom(ReadPass(), 0, 1000);
  ServeStats stats = thread_->Join();
  EXPECT_FALSE(stats.cancelled);
  EXPECT_EQ(stats.passes, 1);
  Stop();
  EXPECT_TRUE(dir_.Entries().empty()) << "a FIFO was left behind";
}

TEST_F(PipeServerTest, FreshPipeStandsAtThePathOnceTheReaderHasOpened) {
  Start(10, true);
  int fd = OpenForReading(DataPath());
  struct stat opened, standing;
  ASSERT_EQ(fstat(fd, &opened), 0);
  ExpectCasesFrom(ReadToEnd(fd), 0, 10);
  ASSERT_EQ(stat(DataPath().c_str(), &standing), 0);
  EXPECT_TRUE(S_ISFIFO(standing.st_mode));
  EXPECT_NE(opened.st_ino, standing.st_ino);
  close(fd);
}

TEST_F(PipeServerTest, RewindAndSeekServeFromTheAskedCase) {
  const std::int64_t total = 5000;  // 80 KB: more than a default pipe holds
  Start(total, true);
  // A reader checks the rewind pipe by opening it and closing it unwritten.
  SendThroughRewindPipe(RewindPath(), "");
  ExpectCasesFrom(ReadPass(), 0, total);
  SendThroughRewindPipe(RewindPath(), wire::kRewind);
  ExpectCasesFrom(ReadPass(), 0, total);
  for (std::int64_t target : {std::int64_t{0}, std::int64_t{1}, std::int64_t{2500}, total - 1}) {
    SCOPED_TRACE(target);
    SendThroughRewindPipe(RewindPath(), feedtest::SeekMessage(target));
    ExpectCasesFrom(ReadPass(), target, total);
  }
  // Past the end, or before the start: the reader meets the end at once.
  for (std::int64_t target : {total, total + 7, std::int64_t{-1}}) {
    SCOPED_TRACE(target);
    SendThroughRewindPipe(RewindPath(), feedtest::SeekMessage(target));
    EXPECT_EQ(ReadPass(), "");
  }
}

TEST_F(PipeServerTest, SeekInTheMiddleOfAPassLeavesTheOldPipe) {
  const std::int64_t total = 200000;  // far more than the pipe holds
  Start(total, true);
  int first = OpenForReading(DataPath());
  ExpectCasesFrom(feedtest::ReadExactly(first, kRecordBytes), 0, 1);
  // The seek message arrives while the server is blocked on a full pipe.
  SendThroughRewindPipe(RewindPath(), feedtest::SeekMessage(123456));
  int second = OpenForReading(DataPath());
  ExpectCasesFrom(ReadToEnd(second), 123456, total);
  close(second);
  close(first);
}

TEST_F(PipeServerTest, ReaderVanishingMidStreamCostsOnlyThePass) {
  // This process keeps the default SIGPIPE action: a write that raised it
  // would end the test program.
  Start(200000, true);
  int fd = OpenForReading(DataPath());
  feedtest::ReadExactly(fd, 1000);
  close(fd);
  SendThroughRewindPipe(RewindPath(), wire::kRewind);
  ExpectCasesFrom(ReadPass(), 0, 200000);
  EXPECT_EQ(thread_->Failure(), "");
}

TEST_F(PipeServerTest, ReaderThatRemovesThePathGetsANewOne) {
  Start(10, true);
  ExpectCasesFrom(ReadPass(), 0, 10);
  // A reader that removes the path whatever it names.
  ASSERT_EQ(unlink(DataPath().c_str()), 0);
  struct stat st;
  while (stat(DataPath().c_str(), &st) != 0) usleep(1000);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  SendThroughRewindPipe(RewindPath(), wire::kRewind);
  ExpectCasesFrom(ReadPass(), 0, 10);
}

TEST_F(PipeServerTest, ReaderIsDoneWhenItDoesNotComeBackWithinTheLinger) {
  Start(10, true, 200);
  ExpectCasesFrom(ReadPass(), 0, 10);
  SendThroughRewindPipe(RewindPath(), feedtest::SeekMessage(4));
  ExpectCasesFrom(ReadPass(), 4, 10);
  ServeStats stats = thread_->Join();
  EXPECT_FALSE(stats.cancelled);
  EXPECT_EQ(stats.passes, 2);
  EXPECT_EQ(stats.seeks, 1);
  Stop();
  EXPECT_TRUE(dir_.Entries().empty()) << "a FIFO was left behind";
}

TEST_F(PipeServerTest, CancelEndsTheWaitForAReader) {
  Start(10, true);
  cancel_ = 1;
  ServeStats stats = thread_->Join();
  EXPECT_TRUE(stats.cancelled);
  EXPECT_EQ(stats.passes, 0);
  Stop();
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(PipeServerTest, RefusesToReplaceAFileThatIsNoPipe) {
  std::ofstream(DataPath()) << "precious";
  cases_ = std::make_unique<GeneratedCases>(builder_, 1);
  try {
    PipeServer server(*cases_, ByteOrder::kNative, DataPath(), RewindPath(), ServeOptions());
    ADD_FAILURE() << "accepted a regular file";
  } catch (const FeederError& error) {
    EXPECT_NE(std::string(error.what()).find("is not a named pipe"), std::string::npos);
  }
  std::ifstream kept(DataPath());
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "precious");
  EXPECT_EQ(dir_.Entries().size(), 1u) << "the rewind pipe or a temporary was left behind";
}

}  // namespace
}  // namespace feed
}  // namespace drav
