// The control protocol (SEEK, RWND, STOP) over both transports, later passes,
// a data pipe made late, and the safety rules around descriptors and SIGPIPE.
// Hostile paths and feeders that die are in tests/hostile and tests/fault.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "stream/FifoFiles.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

std::string SeekBytes(long long n) {
  std::string bytes = "SEEK";
  bytes.append(reinterpret_cast<const char*>(&n), sizeof n);
  return bytes;
}

class ControlTest : public testing::TestWithParam<bool> {
 protected:
  bool Socket() const { return GetParam(); }
  std::unique_ptr<TestFeeder> StartFeeder(int records, bool rewindable = true) {
    if (Socket()) return TestFeeder::OverSocket(TestRecords(records));
    return TestFeeder::OverPipe(dir_, rewindable, TestRecords(records));
  }
  std::string Rewind(const TestFeeder& feeder) const {
    return Socket() ? "rewindsupported" : feeder.RewindName();
  }

  Watchdog watchdog_{60, "control test"};
  TempDir dir_;
};

TEST_P(ControlTest, SeekSendsCaseNumberInHostOrderAndDeliversThatCase) {
  auto feeder = StartFeeder(10);
  auto source = OpenSource(feeder->StreamName(), Rewind(*feeder).c_str(), true, Socket());
  const std::vector<std::string> records = TestRecords(10);
  {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    EXPECT_EQ(it->IsSeekOK(), 1);
    ASSERT_EQ(it->Next(), 1);
    ASSERT_EQ(it->Next(), 1);
    // Over a pipe, records the feeder is still writing when the seek goes
    // out would come first: let the first pass finish.
    feeder->WaitForPassesServed(1);
    EXPECT_EQ(it->Seek(2), 1);  // the current position: nothing is sent
    EXPECT_EQ(it->Seek(5), 1);
    EXPECT_TRUE(feeder->ControlBytes().empty()) << "Seek itself sends nothing";
    ASSERT_EQ(it->Next(), 1);
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), records[5]);
    EXPECT_EQ(it->Tell(), 6);
    ASSERT_EQ(it->Next(), 1);
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), records[6]);
    EXPECT_EQ(feeder->ControlBytes(), SeekBytes(5));
  }
  if (Socket()) {
    EXPECT_EQ(feeder->AwaitControlBytes(16), SeekBytes(5) + "STOP");
  }
}

TEST_P(ControlTest, SeekOnStreamWithoutSeekableIsRefusedAndReadingGoesOn) {
  auto feeder = StartFeeder(4);
  auto source = OpenSource(feeder->StreamName(), Rewind(*feeder).c_str(), false, Socket());
  OBS obs(source->GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
  EXPECT_EQ(it->IsSeekOK(), 0);
  ASSERT_EQ(it->Next(), 1);
  EXPECT_EQ(it->Seek(3), 0);
  ASSERT_EQ(it->Next(), 1);
  EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), TestRecords(4)[1]);
  it->Commit();
  EXPECT_EQ(it->Tell(), 2);
  EXPECT_TRUE(feeder->ControlBytes().empty());
}

TEST_P(ControlTest, LaterPassRewindsAndReadsFromCaseZero) {
  auto feeder = StartFeeder(3);
  auto source = OpenSource(feeder->StreamName(), Rewind(*feeder).c_str(), false, Socket());
  const std::vector<std::string> records = TestRecords(3);
  EXPECT_EQ(ReadPass(*source), records);
  if (!Socket()) feeder->MakeDataPipeAgain();
  EXPECT_EQ(ReadPass(*source, 2), std::vector<std::string>(records.begin(), records.begin() + 2));
  if (Socket()) {
    EXPECT_EQ(feeder->AwaitControlBytes(12), "STOPRWNDSTOP");
  } else {
    EXPECT_EQ(feeder->ControlBytes(), "RWND");
  }
}

TEST_P(ControlTest, LaterPassWithoutRewindNameGetsNoCases) {
  auto feeder = StartFeeder(3, false);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, Socket());
  EXPECT_EQ(ReadPass(*source, 1).size(), 1u);
  // Whatever descriptor now has the old number must not be read from.
  TempDir other;
  std::string decoy = other.WriteFile("decoy", std::string(4096, 'x'));
  int decoyFd = open(decoy.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<std::string> second = ReadPass(*source);
  if (Socket()) {
    // The connection goes on: the cases the first pass left are still there.
    EXPECT_EQ(second.size(), 2u);
  } else {
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(source->RowCount(), 0);
  }
  close(decoyFd);
}

INSTANTIATE_TEST_SUITE_P(Transports, ControlTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Socket" : "Pipe");
                         });

// ---- Opening ------------------------------------------------------------------

TEST(OpenTest, DataPipeCreatedLateIsStillOpened) {
  Watchdog watchdog(60, "late data pipe");
  TempDir dir;
  const std::string path = dir.File("late");
  const std::string record = TestRecords(1)[0];
  std::thread lateFeeder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    close(fd);
  });
  auto source = OpenSource(path, nullptr, false, false);
  EXPECT_EQ(ReadPass(*source), TestRecords(1));
  lateFeeder.join();
}

TEST(OpenTest, NullParserGives2270) {
  Watchdog watchdog(60, "null parser");
  TempDir dir;
  auto feeder = TestFeeder::OverPipe(dir, false, {});
  DRAV_StreamDataSrc source(feeder->StreamName().c_str(), nullptr, false, false);
  EXPECT_EQ(ThrownBy([&] { source.SetDictionary(nullptr); }), 2270);
}

// ---- Safety rules ---------------------------------------------------------

TEST(SafetyTest, WriteIntoPipeWithoutReaderRaisesNoSigpipe) {
  Watchdog watchdog(60, "sigpipe on fifo");
  SigpipeIsFatal sigpipe;
  TempDir dir;
  std::string path = dir.MakeFifo("rewind");
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int writer = fifo::OpenFifoForWriting(path.c_str(), 0);
  ASSERT_GE(writer, 0);
  close(reader);
  EXPECT_FALSE(fifo::WriteAll(writer, "RWND", 4));
  close(writer);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

TEST(SafetyTest, ManyPassesWithSeeksLeakNoDescriptor) {
  Watchdog watchdog(90, "descriptor growth");
  TempDir dir;
  const std::vector<std::string> records = TestRecords(6);
  auto feeder = TestFeeder::OverPipe(dir, true, records);
  auto source = OpenSource(feeder->StreamName(), feeder->RewindName().c_str(), true, false);
  EXPECT_EQ(ReadPass(*source).size(), 6u);
  feeder->MakeDataPipeAgain();
  const int before = OpenDescriptors();
  for (int pass = 0; pass < 15; ++pass) {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    // Over a pipe, records still unread when a seek is answered would come
    // first; seeking once the pass is read keeps the test exact.
    int cases = 0;
    while (it->Next() == 1) ++cases;
    ASSERT_EQ(cases, 6) << "pass " << pass;
    it->Seek(4);
    ASSERT_EQ(it->Next(), 1) << "pass " << pass;
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), records[4]);
    while (it->Next() == 1) {
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SafetyTest, DescriptorsAreCloseOnExec) {
  Watchdog watchdog(60, "cloexec");
  TempDir dir;
  auto feeder = TestFeeder::OverPipe(dir, false, TestRecords(1));
  int fd = fifo::OpenForReading(feeder->StreamName().c_str());
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  close(fd);
}

}  // namespace
}  // namespace test
}  // namespace drav
