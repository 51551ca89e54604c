// The socket server against a reader written from the protocol: real
// loopback TCP on a port the system chose, the server on a thread.
#include "feeder/SocketServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "feeder/FeederError.h"
#include "feeder/GeneratedCases.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace drav {
namespace feed {
namespace {

using feedtest::ReadExactly;
using feedtest::ReadToEnd;
using feedtest::SendAll;

class SocketServerTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kRecordBytes = 16;  // x F8, s A3

  SocketServerTest() : list_(VariableList::Parse("x F8 s A3")) {}

  void Start(std::int64_t cases, ByteOrder order = ByteOrder::kNative, int lingerMs = 60000) {
    builder_ = std::make_unique<RecordBuilder>(list_, order);
    cases_ = std::make_unique<GeneratedCases>(*builder_, cases);
    ServeOptions options;
    options.cancel = &cancel_;
    options.lingerMs = lingerMs;
    server_ = std::make_unique<SocketServer>(*cases_, order, 0, "", options);
    thread_ = std::make_unique<feedtest::ServingThread>([this] { return server_->Serve(); },
                                                        &cancel_);
  }
  ~SocketServerTest() override {
    thread_.reset();
    server_.reset();
  }

  int Connect() { return feedtest::ConnectLoopback(server_->Port()); }
  std::int32_t Probe(int fd) {
    std::string bytes = ReadExactly(fd, wire::kProbeBytes);
    EXPECT_EQ(bytes.size(), wire::kProbeBytes);
    std::int32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
  }
  // A new connection that asks with `message` and reads to the end.
  std::string Ask(const std::string& message) {
    int fd = Connect();
    SendAll(fd, message);
    std::string data = ReadToEnd(fd);
    SendAll(fd, wire::kStop);
    close(fd);
    return data;
  }
  void ExpectCasesFrom(const std::string& data, std::int64_t first, std::int64_t total,
                       bool reversed = false) {
    ASSERT_EQ(data.size(), static_cast<std::size_t>(total - first) * kRecordBytes);
    if (data.empty()) return;
    EXPECT_EQ(feedtest::NumberAt(data, kRecordBytes, 0, 0, reversed), static_cast<double>(first));
    EXPECT_EQ(feedtest::NumberAt(data, kRecordBytes, data.size() / kRecordBytes - 1, 0, reversed),
              static_cast<double>(total - 1));
    EXPECT_EQ(data.substr(8, 3), ("c" + std::to_string(first) + "  ").substr(0, 3));
  }

  feedtest::Watchdog watchdog_;
  VariableList list_;
  volatile std::sig_atomic_t cancel_ = 0;
  std::unique_ptr<RecordBuilder> builder_;
  std::unique_ptr<GeneratedCases> cases_;
  std::unique_ptr<SocketServer> server_;
  std::unique_ptr<feedtest::ServingThread> thread_;
};

TEST_F(SocketServerTest, FirstConnectionGetsTheProbeThenEveryRecord) {
  Start(3000);
  EXPECT_GT(server_->Port(), 0);
  int fd = Connect();
  EXPECT_EQ(Probe(fd), wire::kProbeValue);
  ExpectCasesFrom(ReadToEnd(fd), 0, 3000);
  close(fd);
}

TEST_F(SocketServerTest, LaterConnectionsRewindOrSeekWithoutAProbe) {
  const std::int64_t total = 3000;
  Start(total);
  int first = Connect();
  Probe(first);
  ExpectCasesFrom(ReadToEnd(first), 0, total);
  SendAll(first, wire::kStop);
  close(first);
  ExpectCasesFrom(Ask(wire::kRewind), 0, total);
  for (std::int64_t target : {std::int64_t{0}, std::int64_t{1}, std::int64_t{1717}, total - 1}) {
    SCOPED_TRACE(target);
    ExpectCasesFrom(Ask(feedtest::SeekMessage(target)), target, total);
  }
  for (std::int64_t target : {total, total + 1, std::int64_t{-5}}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(Ask(feedtest::SeekMessage(target)), "");
  }
}

TEST_F(SocketServerTest, SeekMessageSplitAcrossSendsIsGathered) {
  Start(100);
  int first = Connect();  // the first connection, gone after its probe
  Probe(first);
  close(first);
  int fd = Connect();
  std::string message = feedtest::SeekMessage(42);
  for (char byte : message) {
    SendAll(fd, std::string(1, byte));
    usleep(1000);
  }
  ExpectCasesFrom(ReadToEnd(fd), 42, 100);
  close(fd);
}

TEST_F(SocketServerTest, SwappedFeederReversesProbeAndNumbersButReadsSeekInReaderOrder) {
  Start(500, ByteOrder::kSwapped);
  int fd = Connect();
  std::int32_t probe = Probe(fd);
  EXPECT_TRUE(probe < wire::kProbeMin || probe > wire::kProbeMax) << probe;
  std::string data = ReadToEnd(fd);
  ExpectCasesFrom(data, 0, 500, true);
  EXPECT_EQ(feedtest::NumberAt(data, kRecordBytes, 3, 0, true), 3.0);
  close(fd);
  ExpectCasesFrom(Ask(feedtest::SeekMessage(77)), 77, 500, true);
}

TEST_F(SocketServerTest, StopEndsSendingSoAPassWithoutRewindSeesTheEnd) {
  const std::int64_t total = 2000000;  // 32 MB: far more than the socket buffers hold
  Start(total);
  int fd = Connect();
  Probe(fd);
  ReadExactly(fd, 2 * kRecordBytes);
  SendAll(fd, wire::kStop);
  // The next pass reads on, on the same connection: it must meet the end.
  std::string rest = ReadToEnd(fd);
  EXPECT_LT(rest.size(), static_cast<std::size_t>(total - 2) * kRecordBytes);
  close(fd);
  ExpectCasesFrom(Ask(wire::kRewind), 0, total);
}

TEST_F(SocketServerTest, ReaderVanishingMidStreamCostsOnlyThatConnection) {
  Start(2000000);
  int fd = Connect();
  Probe(fd);
  ReadExactly(fd, 1000);
  linger hardClose{1, 0};  // close with a reset, as a crashed reader would
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
  close(fd);
  int again = Connect();
  SendAll(again, wire::kRewind);
  EXPECT_EQ(feedtest::NumberAt(ReadExactly(again, kRecordBytes), kRecordBytes, 0, 0), 0.0);
  close(again);
  EXPECT_EQ(thread_->Failure(), "");
}

TEST_F(SocketServerTest, UnknownControlWordClosesOnlyThatConnection) {
  Start(10);
  int first = Connect();
  Probe(first);
  ReadToEnd(first);
  int stranger = Connect();
  SendAll(stranger, "HELO");
  EXPECT_EQ(ReadToEnd(stranger), "");
  close(stranger);
  ExpectCasesFrom(Ask(wire::kRewind), 0, 10);
  close(first);
}

TEST_F(SocketServerTest, SilentLaterConnectionIsServedAsANewReader) {
  Start(10);
  int first = Connect();
  Probe(first);
  ReadToEnd(first);
  close(first);
  int second = Connect();  // says nothing: waits for a probe like a new reader
  EXPECT_EQ(Probe(second), wire::kProbeValue);
  ExpectCasesFrom(ReadToEnd(second), 0, 10);
  close(second);
}

TEST_F(SocketServerTest, ReaderIsDoneWhenItHoldsNothingAndDoesNotComeBack) {
  Start(10, ByteOrder::kNative, 200);
  int first = Connect();
  Probe(first);
  ReadToEnd(first);
  SendAll(first, wire::kStop);
  close(first);
  ServeStats stats = thread_->Join();
  EXPECT_FALSE(stats.cancelled);
  EXPECT_EQ(stats.passes, 1);
}

TEST_F(SocketServerTest, ListensOnIpv6LoopbackToo) {
  Start(5);
  int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  address.sin6_port = htons(static_cast<uint16_t>(server_->Port()));
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  EXPECT_EQ(Probe(fd), wire::kProbeValue);
  ExpectCasesFrom(ReadToEnd(fd), 0, 5);
  close(fd);
}

TEST(SocketServerSetupTest, RefusesABadPortOrAddress) {
  VariableList list = VariableList::Parse("x F8");
  RecordBuilder builder(list, ByteOrder::kNative);
  GeneratedCases cases(builder, 1);
  EXPECT_THROW(SocketServer(cases, ByteOrder::kNative, 70000, "", ServeOptions()), FeederError);
  EXPECT_THROW(SocketServer(cases, ByteOrder::kNative, 0, "no.such.host.invalid", ServeOptions()),
               FeederError);
  SocketServer taken(cases, ByteOrder::kNative, 0, "127.0.0.1", ServeOptions());
  EXPECT_THROW(SocketServer(cases, ByteOrder::kNative, taken.Port(), "127.0.0.1", ServeOptions()),
               FeederError);
}

}  // namespace
}  // namespace feed
}  // namespace drav
