// The TCP client against real loopback listeners (port 0) served by feeder
// processes: its receive buffer, reconnects, options, failures. Every
// blocking receive and send of the client has a timeout, and a feeder that
// is still running at the end is killed, so a fault fails the test instead
// of hanging it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/Socket.h"
#include "tests/support/FeederProcess.h"

namespace {

using drav::test::Connected;
using drav::test::FeederProcess;
using drav::test::LoopbackPort;
using drav::test::PatternBytes;
namespace child = drav::test::child;

// The feeder's script ended as written (a failed step exits with its own status).
::testing::AssertionResult Succeeded(FeederProcess& feeder) {
  if (feeder.RanToTheEnd()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the feeder's script failed, wait status " << feeder.Wait();
}

constexpr std::size_t kBuffer = Socket::kReceiveBufferBytes;
constexpr std::size_t kBulk = 1 << 20;

// ---- Receive buffer -----------------------------------------------------------

// Whatever way the bytes arrive and whatever sizes the reader asks for
// (cycled), every request gets the next bytes of the stream, whole, in
// order; a short count comes only at the end of the data.
TEST(SocketBuffer, EveryRequestGetsTheNextBytesHoweverTheyArrive) {
  const struct {
    const char* name;
    std::vector<std::size_t> requests, pieces;
    std::size_t streamBytes;
  } cases[] = {
      // Records cut by the sender's pieces, each piece a separate recv.
      {"80-byte records in odd pieces", {80}, {1, 7, 13, 100, 3, 160}, 3000},
      {"probe then records in odd pieces", {4, 80}, {5, 79, 2}, 2000},
      // Many small records over several buffer fills: fills end mid-record.
      {"8-byte records in bulk", {8}, {kBulk}, 4 * kBuffer + 24},
      {"80-byte records in bulk", {80}, {kBulk}, 4 * kBuffer + 800},
      {"8192-byte records in bulk", {8192}, {kBulk}, 3 * kBuffer + 8192 * 5},
      // Requests around the buffer's size: some drain what is buffered and
      // take the rest straight from the connection.
      {"requests beside the buffer size", {100, kBuffer - 1, kBuffer, kBuffer + 3, 7}, {kBulk}, 6 * kBuffer},
      {"one large request in pieces", {kBuffer * 2 + 11}, {65536, 1, 99999}, kBuffer * 2 + 11},
      // The end of the data inside a request: the bytes there were, then 0.
      {"record cut by the end", {80}, {kBulk}, 200},
      {"large request cut by the end", {4096, 2 * kBuffer}, {kBulk}, kBuffer + 4096 + 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stream = PatternBytes(c.streamBytes);
    LoopbackPort port;
    FeederProcess feeder([&] { child::Write(child::AcceptOne(port.fd), stream, c.pieces, 1000); });
    Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
    ASSERT_TRUE(Connected(socket, port.StreamName()));
    std::size_t at = 0;
    std::string got;
    for (std::size_t i = 0; at < stream.size(); ++i) {
      const std::size_t asked = c.requests[i % c.requests.size()];
      const std::size_t length = std::min(asked, stream.size() - at);
      got.assign(asked, '\0');
      ASSERT_EQ(socket.Receive(&got[0], asked), static_cast<long>(length))
          << "request " << i << " at byte " << at << ": " << socket.LastError();
      ASSERT_TRUE(got.compare(0, length, stream, at, length) == 0) << "wrong bytes, request " << i << " at byte " << at;
      at += length;
    }
    char extra;
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "bytes beyond the end of the stream";
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "the end of the data stays the end";
    EXPECT_TRUE(Succeeded(feeder));
  }
}

// Waits until `count` bytes stand unread in the socket's kernel queue.
bool WaitForQueued(int fd, int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drav::test::kWatchdogMs);
  int queued = 0;
  while (ioctl(fd, FIONREAD, &queued) == 0 && queued < count && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return queued >= count;
}

// What the first connection left in the buffer must never be delivered
// after the socket connected again, whether Clear came first or not.
TEST(SocketBuffer, BufferedBytesDoNotOutliveTheirConnection) {
  for (const bool clearFirst : {true, false}) {
    SCOPED_TRACE(clearFirst ? "Clear, then Connect" : "Connect again at once");
    LoopbackPort port;
    const std::string first = std::string(80, 'A') + std::string(80, 'B');
    const std::string second(80, 'C');
    FeederProcess feeder([&] {
      int fd = child::AcceptOne(port.fd);
      child::Write(fd, first, {});
      child::Write(child::AcceptOne(port.fd), second, {});
      close(fd);
    });
    Socket socket(3);
    ASSERT_TRUE(Connected(socket, port.StreamName()));
    // Both records stand in the kernel's queue before the first receive, so
    // that one receive takes both and the second waits in the buffer.
    ASSERT_TRUE(WaitForQueued(socket.Descriptor(), static_cast<int>(first.size())));
    std::string record(80, '\0');
    ASSERT_EQ(socket.Receive(&record[0], 80), 80);
    EXPECT_EQ(record, std::string(80, 'A'));
    if (clearFirst) {
      socket.Clear();
      EXPECT_FALSE(socket.IsConnected());
      EXPECT_EQ(socket.Receive(&record[0], 80), -1) << "a cleared socket has nothing to give";
      EXPECT_FALSE(socket.LastError().empty());
    }
    ASSERT_TRUE(Connected(socket, port.StreamName()));
    ASSERT_EQ(socket.Receive(&record[0], 80), 80) << socket.LastError();
    EXPECT_EQ(record, second);
    EXPECT_TRUE(Succeeded(feeder));
  }
}

// ---- Per transport family ---------------------------------------------------

class SocketFamilyTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (port_.fd < 0) GTEST_SKIP() << "no loopback listener for this address family";
  }
  LoopbackPort port_{GetParam()};
};

TEST_P(SocketFamilyTest, SendsReceivesAndConnectsAgainAfterClear) {
  const std::string seek("SEEK\x01\x02\x03\x04\x05\x06\x07\x08", 12);
  const std::string record = PatternBytes(80), again = "again";
  const std::vector<std::size_t> pieces = {1, 3, 7, 2, 13};
  FeederProcess feeder([&] {  // the child only makes system calls
    int fd = child::AcceptOne(port_.fd);
    child::Expect(fd, seek);
    child::Write(fd, record, pieces, 1000);
    child::Write(child::AcceptOne(port_.fd), again, pieces, 1000);
  });
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  ASSERT_TRUE(Connected(socket, port_.StreamName()));
  EXPECT_EQ(socket.Send(seek.data(), seek.size()), static_cast<int>(seek.size()));
  std::string buffer(80, '\0');
  EXPECT_EQ(socket.Receive(&buffer[0], 80), 80);
  EXPECT_EQ(buffer, record);
  socket.Clear();
  ASSERT_TRUE(Connected(socket, port_.StreamName()));
  ASSERT_EQ(socket.Receive(&buffer[0], 5), 5);
  EXPECT_EQ(buffer.substr(0, 5), "again");
  EXPECT_TRUE(Succeeded(feeder)) << "the feeder did not receive the SEEK message whole";
}

TEST_P(SocketFamilyTest, DescriptorIsCloseOnExecWithTheAskedOptions) {
  const std::string x = "x";
  FeederProcess feeder([&] { child::Expect(child::AcceptOne(port_.fd), x); });
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  ASSERT_TRUE(Connected(socket, port_.StreamName()));
  const int fd = socket.Descriptor();
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "reads must block after connecting";
  int value = 0;
  socklen_t length = sizeof value;
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, &length), 0);
  EXPECT_NE(value, 0);
  ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
  EXPECT_NE(value, 0);
  EXPECT_EQ(socket.Send("x", 1), 1);
  EXPECT_TRUE(Succeeded(feeder));
}

TEST_P(SocketFamilyTest, SendToAPeerThatHasGoneFailsWithoutSigpipe) {
  // The peer resets the connection; further sends fail. Without MSG_NOSIGNAL
  // the default SIGPIPE action would end this test program. The peer waits
  // for one byte first, so the reset cannot overtake the client's own check
  // that the connection was made.
  const std::string ready = "r";
  FeederProcess feeder([&] {
    int fd = child::AcceptOne(port_.fd);
    child::Expect(fd, ready);
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  });
  Socket socket(3);
  ASSERT_TRUE(Connected(socket, port_.StreamName()));
  ASSERT_EQ(socket.Send("r", 1), 1);
  ASSERT_TRUE(Succeeded(feeder));
  const std::string chunk(64 * 1024, 'x');
  bool failed = false;
  for (int i = 0; i < 200 && !failed; ++i) failed = socket.Send(chunk.data(), chunk.size()) != static_cast<int>(chunk.size());
  EXPECT_TRUE(failed);
  EXPECT_FALSE(socket.LastError().empty());
}

INSTANTIATE_TEST_SUITE_P(Loopback, SocketFamilyTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == AF_INET ? "IPv4" : "IPv6");
                         });

// ---- Addresses and failures ---------------------------------------------------

TEST(SocketAddress, RefusesMalformedAddressesWithoutConnecting) {
  const char* addresses[] = {"",           "localhost:5000", "inet:",          "inet:host",
                             "inet::5000", "inet:host:",     "inet:host:abc",  "inet:host:70000",
                             "inet:host:0", "inet:[]:5000",  "inet:host:-1",   "inet:host:5 0"};
  for (const char* address : addresses) {
    Socket socket(3);
    EXPECT_EQ(socket.Connect(VUString(address)), -1) << address;
    EXPECT_FALSE(socket.IsConnected()) << address;
    EXPECT_FALSE(socket.LastError().empty()) << address;
  }
}

TEST(SocketAddress, TriesEveryAddressOfAName) {
  // "localhost" may resolve to ::1 before 127.0.0.1; a listener on IPv4 only
  // must still be reached.
  LoopbackPort port(AF_INET);
  const std::string ok = "ok";
  FeederProcess feeder([&] { child::Write(child::AcceptOne(port.fd), ok, {}); });
  Socket socket(3);
  ASSERT_TRUE(Connected(socket, "inet:localhost:" + std::to_string(port.port)));
  char buffer[2];
  EXPECT_EQ(socket.Receive(buffer, 2), 2);
  EXPECT_TRUE(Succeeded(feeder));
}

TEST(SocketAddress, RefusedConnectionReturnsNonZeroWithTheReason) {
  int port = 0;
  {
    // A port that was just free and now has no listener.
    LoopbackPort closed(AF_INET);
    ASSERT_GE(closed.fd, 0);
    port = closed.port;
  }
  Socket socket(3);
  EXPECT_EQ(socket.Connect(VUString(("inet:127.0.0.1:" + std::to_string(port)).c_str())), -3);
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_NE(socket.LastError().find("refused"), std::string::npos) << socket.LastError();
  EXPECT_EQ(socket.Send("STOP", 4), -1);
}

}  // namespace
