// Feeders that have gone, or never behave: control messages sent after the
// feeder exited, socket peers that accept and stay silent, never accept or
// close in the middle of the probe, refused connections and rewind pipes
// nobody reads. The host must end each case with a message or an empty
// pass, never hang, and never die of SIGPIPE.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/FeederProcess.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

TEST(GoneFeederTest, PipeRewindAndSeekAfterTheFeederExitedEndThePassEmpty) {
  Watchdog watchdog(60, "gone pipe feeder");
  SigpipeIsFatal sigpipe;
  TempDir dir;
  const std::string data = dir.MakeFifo("data.pipe");
  const std::string rewind = dir.MakeFifo("rewind.pipe");
  const std::vector<std::string> records = TestRecords(5);
  const std::string bytes = Joined(records);
  // The feeder holds its rewind pipe open while it serves the first pass,
  // as a rewinding feeder does, then exits.
  FeederProcess feeder([&] {
    child::OpenForReading(rewind.c_str());
    child::Write(child::OpenForWriting(data.c_str()), bytes, {});
  });
  auto source = OpenSource(data, rewind.c_str(), true, false);
  EXPECT_EQ(ReadPass(*source), records);
  ASSERT_TRUE(WIFEXITED(feeder.Wait()));

  EXPECT_TRUE(ReadPass(*source, -1, 3).empty()) << "seek with nobody to answer";
  EXPECT_EQ(source->RowCount(), 5) << "a failed seek leaves the count alone";
  EXPECT_TRUE(ReadPass(*source).empty()) << "rewind with nobody to answer";
  EXPECT_EQ(source->RowCount(), 0) << "a failed rewind ends its pass like the end of the data";
  struct stat st;
  EXPECT_EQ(stat(rewind.c_str(), &st), 0) << "the rewind pipe is the feeder's to remove";
}

TEST(GoneFeederTest, SocketRewindSeekAndStopAfterTheFeederExited) {
  Watchdog watchdog(60, "gone socket feeder");
  SigpipeIsFatal sigpipe;
  const std::vector<std::string> records = TestRecords(5);
  const std::string wire = NativeProbe() + Joined(records);
  auto port = std::make_unique<LoopbackPort>();
  ASSERT_GE(port->fd, 0);
  const std::string name = port->StreamName();
  const int listenFd = port->fd;
  FeederProcess feeder([&] { child::Write(child::AcceptOne(listenFd), wire, {}); });
  auto source = OpenSource(name, "rewindsupported", true, true);
  ASSERT_TRUE(WIFEXITED(feeder.Wait()));
  port.reset();  // nobody listens any more: reconnects are refused

  EXPECT_EQ(ReadPass(*source), records);  // ends with "STOP" to a closed peer
  EXPECT_TRUE(ReadPass(*source).empty());
  EXPECT_TRUE(ReadPass(*source, -1, 2).empty());
  EXPECT_EQ(source->RowCount(), 5);
}

// ---- Peers that open badly ------------------------------------------------

enum class Outcome { kOpensEmpty, kRefused };

struct PeerCase {
  const char* name;
  // The feeder's script, given the listening descriptor; null: nobody listens.
  void (*script)(int listenFd);
  Outcome outcome;
};
// Printed by name: GoogleTest would otherwise dump the bytes, padding included.
void PrintTo(const PeerCase& peer, std::ostream* out) { *out << peer.name; }

void SilentThenExits(int listenFd) {
  child::AcceptOne(listenFd);
  child::PauseMillis(300);
}
void SilentThenKilled(int listenFd) {
  child::AcceptOne(listenFd);
  child::PauseMillis(300);
  child::DieByKill();
}
void NeverAccepts(int) { child::PauseMillis(300); }
void HalfAProbe(int listenFd) {
  static const char half[] = {0, 0};
  child::Write(child::AcceptOne(listenFd), std::string(half, 2), {1});
}

class BadPeerTest : public testing::TestWithParam<PeerCase> {};

// A silent peer is waited for, as a live stream may pause; the wait ends
// the moment the peer closes or dies, with an open stream and no cases.
TEST_P(BadPeerTest, EndsWithAnEmptyStreamOrTheConnectMessage) {
  Watchdog watchdog(60, GetParam().name);
  SigpipeIsFatal sigpipe;
  LoopbackPort port;
  ASSERT_GE(port.fd, 0);
  const std::string name = port.StreamName();
  std::unique_ptr<FeederProcess> feeder;
  if (GetParam().script != nullptr) {
    const int listenFd = port.fd;
    auto script = GetParam().script;
    feeder = std::make_unique<FeederProcess>([script, listenFd] { script(listenFd); });
  }
  port.Close();  // the feeder's copy is the only one left
  if (GetParam().outcome == Outcome::kRefused) {
    EXPECT_EQ(ThrownBy([&] { DRAV_StreamDataSrc s(name.c_str(), nullptr, false, true); }), 2281);
    return;
  }
  std::unique_ptr<DRAV_StreamDataSrc> source;
  ASSERT_EQ(ThrownBy([&] { source = OpenSource(name, "rewindsupported", true, true); }), 0);
  EXPECT_TRUE(ReadPass(*source).empty());
  EXPECT_EQ(source->RowCount(), 0);
  EXPECT_TRUE(ReadPass(*source, -1, 1).empty()) << "the peer has gone: the seek's reconnect fails";
}

INSTANTIATE_TEST_SUITE_P(
    Peers, BadPeerTest,
    testing::Values(PeerCase{"AcceptsAndNeverSendsThenExits", SilentThenExits, Outcome::kOpensEmpty},
                    PeerCase{"AcceptsAndNeverSendsThenIsKilled", SilentThenKilled, Outcome::kOpensEmpty},
                    PeerCase{"NeverAccepts", NeverAccepts, Outcome::kOpensEmpty},
                    PeerCase{"ClosesInTheMiddleOfTheProbe", HalfAProbe, Outcome::kOpensEmpty},
                    PeerCase{"NobodyListens", nullptr, Outcome::kRefused}),
    [](const testing::TestParamInfo<PeerCase>& info) { return info.param.name; });

// ---- Rewind pipes nobody reads --------------------------------------------

// A rewind pipe left behind by a feeder that died: nobody will ever read
// it. The check gives up after the feeder's start-up allowance instead of
// holding the host for ever.
TEST(RewindPipeTest, StaleRewindPipeWithoutReaderGives2280Slow) {
  Watchdog watchdog(90, "stale rewind pipe");
  TempDir dir;
  const std::string data = dir.MakeFifo("data.pipe");
  const std::string rewind = dir.MakeFifo("rewind.pipe");
  EXPECT_EQ(ThrownBy([&] { DRAV_StreamDataSrc s(data.c_str(), rewind.c_str(), false, false); }), 2280);
  struct stat st;
  EXPECT_EQ(stat(data.c_str(), &st), 0) << "the data pipe was never opened, so it stays";
}

}  // namespace
}  // namespace test
}  // namespace drav
