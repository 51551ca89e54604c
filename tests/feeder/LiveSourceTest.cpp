// Sources that grow while they are served: the case log (memory and spill
// file), live CSV input through a real pipe, paced cases, capture files, and
// both servers serving a log that grows under a reader written from the
// protocol.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <memory>
#include <random>
#include <thread>

#include "feeder/CaptureFile.h"
#include "feeder/CaseLog.h"
#include "feeder/FeederError.h"
#include "feeder/GeneratedCases.h"
#include "feeder/LiveCsvInput.h"
#include "feeder/PacedCases.h"
#include "feeder/PipeServer.h"
#include "feeder/SocketServer.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace drav {
namespace feed {
namespace {

using feedtest::ReadExactly;
using feedtest::ReadToEnd;

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"

class LiveSourceTest : public ::testing::Test {
 protected:
  LiveSourceTest()
      : list_(VariableList::Parse("x F8 s A3")),
        builder_(list_, ByteOrder::kNative),
        generated_(builder_, 1000) {}

  std::string Expected(std::int64_t first, std::int64_t count) const {
    std::string bytes(static_cast<std::size_t>(count) * kRecordBytes, '\0');
    generated_.Render(first, count, &bytes[0]);
    return bytes;
  }
  std::string Rendered(const CaseSource& source, std::int64_t first, std::int64_t count) const {
    std::string bytes(static_cast<std::size_t>(count) * kRecordBytes, '\0');
    source.Render(first, count, &bytes[0]);
    return bytes;
  }
  void Add(CaseLog& log, std::int64_t first, std::int64_t count) {
    log.AddRendered(generated_, first, count);
    log.Publish();
  }

  feedtest::Watchdog watchdog_;
  feedtest::TempDir tmp_;
  VariableList list_;
  RecordBuilder builder_;
  GeneratedCases generated_;
};

// ---- The case log -------------------------------------------------------------

TEST_F(LiveSourceTest, CaseLogRendersEveryRunExactlyAcrossTheSpillBoundary) {
  setenv("TMPDIR", tmp_.Path("").c_str(), 1);
  for (std::size_t capRecords : {0u, 1u, 7u, 100u, 5000u}) {
    SCOPED_TRACE(capRecords);
    std::string folder;
    {
      CaseLog log(kRecordBytes, capRecords * kRecordBytes);
      // Batches of odd sizes, so the cap falls inside one.
      for (std::int64_t first = 0, size = 1; first < 1000; first += size, size = size * 3 % 97 + 1)
        Add(log, first, std::min<std::int64_t>(size, 1000 - first));
      ASSERT_EQ(log.CaseCount(), 1000);
      for (auto run : {std::pair<int, int>{0, 1000}, {0, 1}, {6, 3}, {99, 2}, {500, 500}, {999, 1}})
        EXPECT_EQ(Rendered(log, run.first, run.second), Expected(run.first, run.second))
            << run.first << "+" << run.second;
      folder = log.SpillFolder();
      EXPECT_EQ(folder.empty(), capRecords >= 1000);
    }
    EXPECT_TRUE(folder.empty() || access(folder.c_str(), F_OK) != 0) << folder << " was left behind";
  }
  unsetenv("TMPDIR");
}

TEST_F(LiveSourceTest, CaseLogShowsNothingBeforePublishAndSaysWhenTheInputEnded) {
  CaseLog log(kRecordBytes);
  log.AddRendered(generated_, 0, 5);
  EXPECT_EQ(log.CaseCount(), 0);
  EXPECT_TRUE(log.MoreMayCome());
  log.Publish();
  EXPECT_EQ(log.CaseCount(), 5);
  log.AddRendered(generated_, 5, 2);
  log.EndInput();
  EXPECT_EQ(log.CaseCount(), 7);
  EXPECT_FALSE(log.MoreMayCome());
  pollfd change{log.ChangeFd(), POLLIN, 0};
  EXPECT_EQ(poll(&change, 1, 0), 1) << "servers were not woken";
  log.TakeChange();
  EXPECT_EQ(poll(&change, 1, 0), 0);
}

TEST_F(LiveSourceTest, PacedCasesArriveInOrderAndEndTheInput) {
  CaseLog log(kRecordBytes, 0);
  EXPECT_EQ(FeedPaced(generated_, 0, log), 1000);
  EXPECT_FALSE(log.MoreMayCome());
  EXPECT_EQ(Rendered(log, 0, 1000), Expected(0, 1000));
}

// ---- Live CSV input through a real pipe ---------------------------------------

struct LiveCsvRun {
  LiveInputResult result;
  std::string error;
};

// Writes `text` into a pipe in pieces of `piece` bytes (0: random sizes)
// while ReadLiveCsv reads the other end into `log`.
LiveCsvRun ReadThroughPipe(const std::string& text, std::size_t piece, const RecordBuilder& builder,
                           CaseLog& log) {
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  std::thread writer([&] {
    std::mt19937 random(7);
    for (std::size_t at = 0; at < text.size();) {
      std::size_t n = piece ? piece : 1 + random() % 300;
      n = std::min(n, text.size() - at);
      (void)!write(ends[1], text.data() + at, n);
      at += n;
    }
    close(ends[1]);
  });
  LiveCsvRun run;
  try {
    run.result = ReadLiveCsv(ends[0], builder, log, LiveInputOptions());
  } catch (const InputError& error) {
    run.error = error.what();
  }
  writer.join();
  close(ends[0]);
  return run;
}

TEST_F(LiveSourceTest, LiveCsvGivesTheSameCasesHoweverTheInputIsCut) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",\"c" + std::to_string(i) + "\"\r\n";
  for (std::size_t piece : {1u, 2u, 17u, 4096u, 0u}) {
    SCOPED_TRACE(piece);
    CaseLog log(kRecordBytes, 64 * kRecordBytes);
    LiveCsvRun run = ReadThroughPipe(text, piece, builder_, log);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.result.cases, 300);
    EXPECT_EQ(run.result.cutLine, 0);
    EXPECT_FALSE(log.MoreMayCome());
    // The generator's strings are "c<i>" and its x of case i is i.
    EXPECT_EQ(Rendered(log, 0, 300), Expected(0, 300));
  }
}

TEST_F(LiveSourceTest, LineCutByTheEndOfALiveInputIsNotACase) {
  CaseLog log(kRecordBytes);
  LiveCsvRun run = ReadThroughPipe("0,c0\n1,c1\n2,c", 3, builder_, log);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.result.cutLine, 3);
  EXPECT_EQ(log.CaseCount(), 2);
  EXPECT_FALSE(log.MoreMayCome());
}

TEST_F(LiveSourceTest, BadValueNamesLineAndColumnAfterEveryEarlierCaseIsPublished) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + ",c" + std::to_string(i) + "\n";
  text += "5000,c5000\nabc,c5001\n5002,c5002\n";
  CaseLog log(kRecordBytes);
  LiveCsvRun run = ReadThroughPipe(text, 0, builder_, log);
  EXPECT_EQ(run.error, "line 5002, column 1 (x): \"abc\" is not a number");
  EXPECT_FALSE(log.MoreMayCome());
  ASSERT_EQ(log.CaseCount(), 5001);
  EXPECT_EQ(Rendered(log, 0, 5001), Expected(0, 5001));
}

// ---- Capture files -------------------------------------------------------------

TEST_F(LiveSourceTest, CaptureReplaysTheSameRecordsVariablesAndByteOrder) {
  for (ByteOrder order : {ByteOrder::kNative, ByteOrder::kSwapped}) {
    const std::string path = tmp_.Path("capture");
    RecordBuilder builder(list_, order);
    GeneratedCases cases(builder, 50);
    {
      CaptureWriter capture(path, "x F8 s A3", order);
      CaseLog log(kRecordBytes, 0);
      log.CopyTo(capture.Descriptor());
      FeedPaced(cases, 0, log);
    }
    // A feeder killed in the middle of a write leaves half a record.
    { std::ofstream(path, std::ios::app | std::ios::binary) << "half"; }
    CapturedCases replay(path);
    EXPECT_EQ(replay.Variables(), "x F8 s A3");
    EXPECT_EQ(replay.Order(), order);
    ASSERT_EQ(replay.CaseCount(), 50);
    EXPECT_EQ(Rendered(replay, 0, 50), Rendered(cases, 0, 50));
  }
}

TEST_F(LiveSourceTest, ReplayRefusesAFileThatIsNoCapture) {
  const std::string path = tmp_.Path("notes.csv");
  { std::ofstream(path) << "x,s\n1,a\n"; }
  EXPECT_EQ(feedtest::InputErrorOf([&] { CapturedCases replay(path); }),
            path + " is not a dravfeed capture: its first line is not \"dravfeed capture 1\"");
}

// ---- Both servers on a growing log ----------------------------------------------

class GrowingServeTest : public LiveSourceTest {
 protected:
  ServeOptions Options() {
    ServeOptions options;
    options.cancel = &cancel_;
    options.lingerMs = 60000;
    options.onEvent = [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      events_ += text + "\n";
    };
    return options;
  }
  std::string Events() {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    return events_;
  }
  ~GrowingServeTest() override { thread_.reset(); }

  SocketServer& StartSocket() {
    socket_ = std::make_unique<SocketServer>(log_, ByteOrder::kNative, 0, "", Options());
    thread_ = std::make_unique<feedtest::ServingThread>([this] { return socket_->Serve(); }, &cancel_);
    return *socket_;
  }
  void StartPipe(const std::string& data, const std::string& rewind) {
    pipe_ = std::make_unique<PipeServer>(log_, ByteOrder::kNative, data, rewind, Options());
    thread_ = std::make_unique<feedtest::ServingThread>([this] { return pipe_->Serve(); }, &cancel_);
  }

  volatile std::sig_atomic_t cancel_ = 0;
  CaseLog log_{kRecordBytes, 10 * kRecordBytes};
  std::unique_ptr<SocketServer> socket_;
  std::unique_ptr<PipeServer> pipe_;
  std::unique_ptr<feedtest::ServingThread> thread_;
  std::mutex eventsMutex_;
  std::string events_;
};

TEST_F(GrowingServeTest, SocketSendsEachCaseAsItComesAndEndsWithTheInput) {
  SocketServer& server = StartSocket();
  int fd = feedtest::ConnectLoopback(server.Port());
  ReadExactly(fd, wire::kProbeBytes);
  for (std::int64_t i = 0; i < 3; ++i) {
    Add(log_, i, 1);
    EXPECT_EQ(ReadExactly(fd, kRecordBytes), Expected(i, 1)) << "case " << i << " was held back";
  }
  Add(log_, 3, 40);
  log_.EndInput();
  EXPECT_EQ(ReadToEnd(fd), Expected(3, 40));
  close(fd);
}

TEST_F(GrowingServeTest, SocketSeekBeyondTheCasesSoFarWaitsForThem) {
  SocketServer& server = StartSocket();
  Add(log_, 0, 2);
  int first = feedtest::ConnectLoopback(server.Port());
  EXPECT_EQ(ReadExactly(first, wire::kProbeBytes + 2 * kRecordBytes).size(),
            wire::kProbeBytes + 2 * kRecordBytes);
  feedtest::SendAll(first, wire::kStop);
  close(first);
  int seek = feedtest::ConnectLoopback(server.Port());
  feedtest::SendAll(seek, feedtest::SeekMessage(30));
  int past = feedtest::ConnectLoopback(server.Port());
  feedtest::SendAll(past, feedtest::SeekMessage(500));
  Add(log_, 2, 30);  // cases 2 .. 31
  EXPECT_EQ(ReadExactly(seek, 2 * kRecordBytes), Expected(30, 2));
  log_.EndInput();
  EXPECT_EQ(ReadToEnd(seek), "");
  EXPECT_EQ(ReadToEnd(past), "") << "a seek past the end of the input must end its pass";
  close(seek);
  close(past);
}

TEST_F(GrowingServeTest, PipeSendsEachCaseAsItComesAndHearsASeekWhileWaiting) {
  const std::string data = tmp_.Path("data"), rewind = tmp_.Path("rewind");
  StartPipe(data, rewind);
  int fd = feedtest::OpenForReading(data);
  for (std::int64_t i = 0; i < 3; ++i) {
    Add(log_, i, 1);
    EXPECT_EQ(ReadExactly(fd, kRecordBytes), Expected(i, 1)) << "case " << i << " was held back";
  }
  // The reader leaves its waiting pass with a seek beyond the cases so far.
  feedtest::SendThroughRewindPipe(rewind, feedtest::SeekMessage(20));
  close(fd);
  fd = feedtest::OpenForReading(data);
  Add(log_, 3, 25);  // cases 3 .. 27
  EXPECT_EQ(ReadExactly(fd, 8 * kRecordBytes), Expected(20, 8));
  log_.EndInput();
  EXPECT_EQ(ReadToEnd(fd), "");
  close(fd);
  feedtest::SendThroughRewindPipe(rewind, wire::kRewind);
  fd = feedtest::OpenForReading(data);
  EXPECT_EQ(ReadToEnd(fd), Expected(0, 28));
  close(fd);
}

TEST_F(GrowingServeTest, PipeNoticesAReaderThatClosesWhileItWaits) {
  const std::string data = tmp_.Path("data"), rewind = tmp_.Path("rewind");
  StartPipe(data, rewind);
  Add(log_, 0, 1);
  int fd = feedtest::OpenForReading(data);
  EXPECT_EQ(ReadExactly(fd, kRecordBytes), Expected(0, 1));
  close(fd);
  while (Events().find("reader closed the data pipe") == std::string::npos)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the watchdog ends a hang
  // The next pass, after a rewind, starts from case 0 as usual.
  Add(log_, 1, 2);
  log_.EndInput();
  feedtest::SendThroughRewindPipe(rewind, wire::kRewind);
  fd = feedtest::OpenForReading(data);
  EXPECT_EQ(ReadToEnd(fd), Expected(0, 3));
  close(fd);
}

}  // namespace
}  // namespace feed
}  // namespace drav
