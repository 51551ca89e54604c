// Misbehaving feeder processes (killed at a chosen byte, gone, silent, half a probe, nobody there) and a
// signal storm: the whole records sent before the fault, then a message or an empty end; no hang, no SIGPIPE.
#include <pthread.h>

#include <atomic>
#include <random>

#include "tests/support/ScriptedFeeder.h"
#include "tests/support/StreamSupport.h"

namespace drav::test {
namespace {

// Cut at both sides of a record boundary, the ends, random bytes in random pieces; whole: byte by byte.
TEST(FeederKillTest, HostGetsExactlyTheWholeRecordsBeforeTheCut) {
  Watchdog watchdog(100, "feeder kill test");
  const std::vector<std::string> records = TestRecords(60);
  const std::size_t record = records[0].size();
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (const bool socket : {false, true}) {
    const std::string probe = socket ? Probe(feed::ByteOrder::kNative) : "";
    const std::string wire = probe + Joined(records);
    std::vector<std::size_t> cuts = {wire.size(), 0, 1, record - 1, record, record + 1, wire.size() - 1};
    while (cuts.size() < 120) cuts.push_back(random() % (wire.size() + 1));
    for (std::size_t cut : cuts) {
      SCOPED_TRACE((socket ? "socket, cut at byte " : "pipe, cut at byte ") + std::to_string(cut));
      TempDir dir;
      LoopbackPort port;
      const std::string path = socket ? "" : dir.MakeFifo("data.pipe");
      const bool whole = cut == wire.size();
      std::vector<std::size_t> pieces = {1};
      if (!whole) pieces = {1 + random() % (3 * record), 1 + random() % (3 * record), 1 + random() % 7};
      const std::string prefix = wire.substr(0, cut);
      ScriptedFeeder feeder([&] {
        const int fd = socket ? child::AcceptOne(port.fd) : child::OpenForWriting(path.c_str());
        child::Write(fd, prefix, pieces, whole ? 20 : 0);
        child::DieByKill();
      });
      const std::size_t delivered = cut < probe.size() ? 0 : (cut - probe.size()) / record;
      auto source = OpenSource(socket ? port.StreamName() : path, nullptr, false, socket);
      const std::vector<std::string> cases = ReadPass(*source);
      ASSERT_EQ(cases.size(), delivered);
      ASSERT_TRUE(std::equal(cases.begin(), cases.end(), records.begin()));
      ASSERT_EQ(source->RowCount(), static_cast<long long>(delivered));
      const int status = feeder.Wait();
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the feeder's script failed: " << status;
    }
  }
}

enum class Peer { kServesThenExits, kSilentThenExits, kSilentThenKilled, kNeverAccepts, kHalfAProbe, kNobody };

const struct {
  const char* name;
  Peer peer;
} kPeers[] = {{"serves five cases, then exits", Peer::kServesThenExits},
              {"accepts, never sends, exits", Peer::kSilentThenExits},
              {"accepts, never sends, is killed", Peer::kSilentThenKilled},
              {"never accepts", Peer::kNeverAccepts},
              {"closes in the middle of the probe", Peer::kHalfAProbe},
              {"nobody listens", Peer::kNobody}};

// A silent peer is waited for, as a live stream may pause, until it closes or dies. Rewinds
// and seeks after the feeder has gone find nobody and end their passes empty.
TEST(GoneFeederTest, SocketPeersEndWithTheirCasesOrTheConnectMessage) {
  Watchdog watchdog(60, "socket peers");
  signal(SIGPIPE, SIG_DFL);  // not left ignored: a SIGPIPE let through ends the test program
  const std::vector<std::string> records = TestRecords(5);
  const std::string wire = Probe(feed::ByteOrder::kNative) + Joined(records);
  for (const auto& c : kPeers) {
    SCOPED_TRACE(c.name);
    LoopbackPort port;
    const std::string name = port.StreamName();
    std::unique_ptr<ScriptedFeeder> feeder;
    if (c.peer != Peer::kNobody) feeder.reset(new ScriptedFeeder([&] {
      if (c.peer == Peer::kNeverAccepts) return child::PauseMillis(300);
      const int fd = child::AcceptOne(port.fd);
      if (c.peer == Peer::kServesThenExits) return child::Write(fd, wire, {});
      if (c.peer == Peer::kHalfAProbe) return child::Write(fd, wire.substr(0, 2), {1});
      child::PauseMillis(300);
      if (c.peer == Peer::kSilentThenKilled) child::DieByKill();
    }));
    port.Close();  // the feeder's copy is the only one left
    std::unique_ptr<DRAV_StreamDataSrc> source;
    const int thrown = ThrownBy([&] { source = OpenSource(name, "rewindsupported", true, true); });
    ASSERT_EQ(thrown, c.peer == Peer::kNobody ? 2281 : 0);
    if (c.peer == Peer::kNobody) continue;
    const std::size_t served = c.peer == Peer::kServesThenExits ? 5 : 0;
    EXPECT_EQ(ReadPass(*source).size(), served);  // ends with "STOP" to a peer that may have gone
    EXPECT_EQ(source->RowCount(), static_cast<long long>(served));
    feeder.reset();
    EXPECT_TRUE(ReadPass(*source).empty()) << "rewind with nobody to answer";
    EXPECT_TRUE(ReadPass(*source, -1, 2).empty()) << "seek with nobody to answer";
    EXPECT_EQ(source->RowCount(), static_cast<long long>(served)) << "failed reconnects leave the count";
  }
}

TEST(GoneFeederTest, PipeRewindAndSeekAfterTheFeederExitedEndThePassEmpty) {
  Watchdog watchdog(60, "gone pipe feeder");
  signal(SIGPIPE, SIG_DFL);  // not left ignored: a SIGPIPE let through ends the test program
  TempDir dir;
  const std::string data = dir.MakeFifo("data.pipe"), rewind = dir.MakeFifo("rewind.pipe");
  const std::vector<std::string> records = TestRecords(5);
  // It holds its rewind pipe open while it serves, as a rewinding feeder does.
  ScriptedFeeder feeder([&] {
    child::OpenForReading(rewind.c_str());
    child::Write(child::OpenForWriting(data.c_str()), Joined(records), {});
  });
  auto source = OpenSource(data, rewind.c_str(), true, false);
  EXPECT_EQ(ReadPass(*source), records);
  ASSERT_TRUE(feeder.RanToTheEnd());
  EXPECT_TRUE(ReadPass(*source, -1, 3).empty()) << "seek with nobody to answer";
  EXPECT_EQ(source->RowCount(), 5) << "a failed seek leaves the count alone";
  EXPECT_TRUE(ReadPass(*source).empty()) << "rewind with nobody to answer";
  EXPECT_EQ(source->RowCount(), 0) << "a failed rewind ends its pass like the end of the data";
  EXPECT_EQ(access(rewind.c_str(), F_OK), 0) << "the rewind pipe is the feeder's to remove";
}

std::atomic<long> g_signals{0};

// SIGUSR1 (no SA_RESTART) at the reading thread every millisecond of a stream that lasts a second or more.
TEST(SignalStormTest, EveryCaseArrivesIdenticalOverBothTransports) {
  Watchdog watchdog(100, "signal storm");
  const std::vector<std::string> records = TestRecords(60000);
  struct sigaction action {}, saved{};
  action.sa_handler = [](int) { g_signals.fetch_add(1); };
  sigaction(SIGUSR1, &action, &saved);
  for (const bool socket : {false, true}) {
    SCOPED_TRACE(socket ? "socket" : "pipe");
    TempDir dir;
    LoopbackPort port;
    const std::string path = socket ? "" : dir.MakeFifo("data.pipe");
    const std::string wire = (socket ? Probe(feed::ByteOrder::kNative) : "") + Joined(records);
    ScriptedFeeder feeder([&] {
      const int fd = socket ? child::AcceptOne(port.fd) : child::OpenForWriting(path.c_str());
      child::Write(fd, wire, {2048, 1000, 3333}, 1000);
    });
    g_signals = 0;
    std::atomic<bool> done{false};
    const pthread_t reader = pthread_self();
    std::thread storm([&] {
      for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(1))) pthread_kill(reader, SIGUSR1);
    });
    auto source = OpenSource(socket ? port.StreamName() : path, nullptr, false, socket);
    const std::vector<std::string> cases = ReadPass(*source);
    done = true;
    storm.join();
    EXPECT_TRUE(cases == records) << cases.size() << " cases of " << records.size();
    EXPECT_EQ(source->RowCount(), static_cast<long long>(records.size()));
    EXPECT_TRUE(feeder.RanToTheEnd());
    EXPECT_GE(g_signals.load(), 100) << "the storm must really hit the reads";
  }
  sigaction(SIGUSR1, &saved, nullptr);
}

}  // namespace
}  // namespace drav::test
