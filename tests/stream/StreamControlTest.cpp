// The control protocol (SEEK, RWND, STOP) over both transports, later passes,
// opening failures and the safety rules around files and descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <cstring>
#include <fstream>
#include <sstream>

#include "stream/FifoFiles.h"
#include "tests/stream/StreamTestSupport.h"
#include "tests/support/Watchdog.h"

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
  std::unique_ptr<TestFeeder> StartFeeder(int records) {
    FeederOptions options;
    options.records = TestRecords(records);
    if (Socket()) return TestFeeder::OverSocket(options);
    return TestFeeder::OverPipe(dir_, true, options);
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
  const std::string seek5("\x53\x45\x45\x4B", 4);
  EXPECT_EQ(feeder->ControlBytes().substr(0, 4), seek5);
  if (Socket()) {
    feeder->WaitForMessages(2);
    EXPECT_EQ(feeder->ControlBytes(), SeekBytes(5) + "STOP");
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
  EXPECT_EQ(ReadPass(*source), TestRecords(3));
  if (!Socket()) feeder->WaitForDataPipe();
  const std::vector<std::string> records = TestRecords(3);
  EXPECT_EQ(ReadPass(*source, 2), std::vector<std::string>(records.begin(), records.begin() + 2));
  if (Socket()) {
    feeder->WaitForMessages(3);
    EXPECT_EQ(feeder->ControlBytes(), "STOPRWNDSTOP");
  } else {
    EXPECT_EQ(feeder->ControlBytes(), "RWND");
  }
}

TEST_P(ControlTest, LaterPassWithoutRewindNameGetsNoCases) {
  FeederOptions options;
  options.records = TestRecords(3);
  auto feeder = Socket() ? TestFeeder::OverSocket(options) : TestFeeder::OverPipe(dir_, false, options);
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

// ---- Opening failures ---------------------------------------------------------

int ThrownBy(const std::function<void()>& open) {
  try {
    open();
  } catch (int id) {
    return id;
  }
  return 0;
}

TEST(OpenFailureTest, MissingRewindPipeGives2280BeforeTheDataPipeIsTouched) {
  Watchdog watchdog(60, "missing rewind pipe");
  TempDir dir;
  std::string data = dir.MakeFifo("data");
  EXPECT_EQ(ThrownBy([&] { DRAV_StreamDataSrc s(data.c_str(), dir.File("none").c_str(), false, false); }), 2280);
  EXPECT_EQ(access(data.c_str(), F_OK), 0);
}

TEST(OpenFailureTest, RewindPathThatIsARegularFileGives2280AndIsNotWritten) {
  Watchdog watchdog(60, "regular rewind file");
  TempDir dir;
  std::string data = dir.MakeFifo("data");
  std::string rewind = dir.WriteFile("rewind", "untouched");
  EXPECT_EQ(ThrownBy([&] { DRAV_StreamDataSrc s(data.c_str(), rewind.c_str(), false, false); }), 2280);
  std::ifstream in(rewind);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "untouched");
}

TEST(OpenFailureTest, SocketNobodyListensOnGives2281) {
  Watchdog watchdog(60, "closed port");
  std::string name;
  {
    FeederOptions options;
    auto feeder = TestFeeder::OverSocket(options);
    name = feeder->StreamName();
  }  // the port is closed again
  EXPECT_EQ(ThrownBy([&] { DRAV_StreamDataSrc s(name.c_str(), nullptr, false, true); }), 2281);
}

TEST(OpenFailureTest, DataPipeCreatedLateIsStillOpened) {
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

TEST(OpenFailureTest, NullParserGives2270) {
  Watchdog watchdog(60, "null parser");
  TempDir dir;
  FeederOptions options;
  auto feeder = TestFeeder::OverPipe(dir, false, options);
  DRAV_StreamDataSrc source(feeder->StreamName().c_str(), nullptr, false, false);
  EXPECT_EQ(ThrownBy([&] { source.SetDictionary(nullptr); }), 2270);
}

// ---- Safety rules ---------------------------------------------------------

TEST(SafetyTest, RegularFileGivenAsPipeIsReadButNeverRemoved) {
  Watchdog watchdog(60, "regular data file");
  TempDir dir;
  std::string bytes;
  for (const std::string& r : TestRecords(2)) bytes += r;
  std::string path = dir.WriteFile("data", bytes);
  {
    auto source = OpenSource(path, nullptr, false, false);
    EXPECT_EQ(ReadPass(*source), TestRecords(2));
    EXPECT_EQ(source->RowCount(), 2);
  }
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
}

TEST(SafetyTest, ReplacedDataPipeIsNotRemoved) {
  Watchdog watchdog(60, "replaced pipe");
  TempDir dir;
  FeederOptions options;
  options.records = TestRecords(1);
  auto feeder = TestFeeder::OverPipe(dir, false, options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, false);
  // The feeder makes a new pipe under the same name before the pass ends.
  ASSERT_EQ(unlink(feeder->DataPipePath().c_str()), 0);
  dir.MakeFifo("data.pipe");
  EXPECT_EQ(ReadPass(*source).size(), 1u);
  EXPECT_EQ(access(feeder->DataPipePath().c_str(), F_OK), 0);
}

TEST(SafetyTest, WriteIntoPipeWithoutReaderRaisesNoSigpipe) {
  Watchdog watchdog(60, "sigpipe on fifo");
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  struct sigaction saved {};
  sigaction(SIGPIPE, &deflt, &saved);  // a SIGPIPE would end the program
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
  sigaction(SIGPIPE, &saved, nullptr);
}

TEST(SafetyTest, VanishedSocketFeederKillsNothing) {
  Watchdog watchdog(60, "vanished feeder");
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  struct sigaction saved {};
  sigaction(SIGPIPE, &deflt, &saved);
  FeederOptions options;
  options.records = TestRecords(2);
  options.vanishAfterFirstPass = true;
  auto feeder = TestFeeder::OverSocket(options);
  auto source = OpenSource(feeder->StreamName(), "rewindsupported", true, true);
  feeder->WaitUntilGone();
  {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    EXPECT_EQ(it->Next(), 1);
    EXPECT_EQ(it->Seek(0), 1);
    EXPECT_EQ(it->Next(), 0) << "the reconnect fails";
    EXPECT_EQ(it->Tell(), 1) << "a failed seek leaves the position";
  }  // STOP into a closed connection
  EXPECT_EQ(ReadPass(*source).size(), 0u);
  sigaction(SIGPIPE, &saved, nullptr);
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
  FeederOptions options;
  options.records = TestRecords(6);
  auto feeder = TestFeeder::OverPipe(dir, true, options);
  auto source = OpenSource(feeder->StreamName(), feeder->RewindName().c_str(), true, false);
  EXPECT_EQ(ReadPass(*source).size(), 6u);
  feeder->WaitForDataPipe();
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
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), options.records[4]);
    while (it->Next() == 1) {
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SafetyTest, DescriptorsAreCloseOnExec) {
  Watchdog watchdog(60, "cloexec");
  TempDir dir;
  FeederOptions options;
  options.records = TestRecords(1);
  auto feeder = TestFeeder::OverPipe(dir, false, options);
  int fd = fifo::OpenForReading(feeder->StreamName().c_str());
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  close(fd);
}

}  // namespace
}  // namespace test
}  // namespace drav
