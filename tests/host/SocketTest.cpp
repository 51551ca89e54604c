// The TCP client against real loopback listeners (port 0, a thread per
// listener). Every blocking step has a watchdog: the listener polls with a
// timeout, and the client's descriptor gets receive and send timeouts, so a
// fault fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "host/Socket.h"
#include "tests/support/LoopbackListener.h"

namespace {

using drav::test::ArmWatchdog;
using drav::test::LoopbackListener;
using drav::test::ReadBytes;
using drav::test::Record;
using drav::test::WriteInPieces;

// ---- Per transport family ---------------------------------------------------

class SocketFamilyTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    listener_.reset(new LoopbackListener(GetParam()));
    if (!listener_->Ok()) GTEST_SKIP() << "no loopback listener for this address family";
  }
  void TearDown() override {
    if (listener_) {
      listener_->Join();
      EXPECT_FALSE(listener_->TimedOut()) << "the listener's watchdog fired";
    }
  }
  std::unique_ptr<LoopbackListener> listener_;
};

TEST_P(SocketFamilyTest, SendsReceivesAndConnectsAgainAfterClear) {
  auto received = std::make_shared<std::string>();
  const std::string seek("SEEK\x01\x02\x03\x04\x05\x06\x07\x08", 12);
  listener_->Serve({[received, seek](int fd) {
                      *received = ReadBytes(fd, seek.size());
                      WriteInPieces(fd, Record(80), {1, 3, 7, 2, 13});
                    },
                    [](int fd) { WriteInPieces(fd, "again", {2}); }});
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  const VUString address(listener_->Address().c_str());
  ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
  ArmWatchdog(socket);
  EXPECT_EQ(socket.Send(seek.data(), seek.size()), static_cast<int>(seek.size()));
  std::string buffer(80, '\0');
  EXPECT_EQ(socket.Receive(&buffer[0], 80), 80);
  EXPECT_EQ(buffer, Record(80));
  EXPECT_EQ(*received, seek);
  socket.Clear();
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_EQ(socket.Receive(&buffer[0], 5), -1);  // nothing to receive from
  ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
  ArmWatchdog(socket);
  ASSERT_EQ(socket.Receive(&buffer[0], 5), 5);
  EXPECT_EQ(buffer.substr(0, 5), "again");
}

TEST_P(SocketFamilyTest, DescriptorIsCloseOnExecWithTheAskedOptions) {
  listener_->Serve({[](int fd) { ReadBytes(fd, 1); }});
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
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
}

TEST_P(SocketFamilyTest, SendToAPeerThatHasGoneFailsWithoutSigpipe) {
  // The peer closes at once; further sends meet a reset connection. Without
  // MSG_NOSIGNAL the default SIGPIPE action would end this test program.
  // It waits for one byte first, so the reset cannot overtake the client's
  // own check that the connection was made.
  listener_->Serve({[](int fd) {
    char ready;
    (void)!recv(fd, &ready, 1, 0);
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }});
  Socket socket(3);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
  ArmWatchdog(socket);
  ASSERT_EQ(socket.Send("r", 1), 1);
  listener_->Join();
  const std::string chunk(64 * 1024, 'x');
  bool failed = false;
  for (int i = 0; i < 200 && !failed; ++i) {
    failed = socket.Send(chunk.data(), chunk.size()) != static_cast<int>(chunk.size());
  }
  EXPECT_TRUE(failed);
  EXPECT_FALSE(socket.LastError().empty());
}

std::string FamilyName(const ::testing::TestParamInfo<int>& info) {
  return info.param == AF_INET ? "IPv4" : "IPv6";
}

INSTANTIATE_TEST_SUITE_P(Loopback, SocketFamilyTest, ::testing::Values(AF_INET, AF_INET6),
                         FamilyName);

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
  LoopbackListener listener(AF_INET);
  ASSERT_TRUE(listener.Ok());
  listener.Serve({[](int fd) { WriteInPieces(fd, "ok", {2}); }});
  Socket socket(3);
  ASSERT_EQ(socket.Connect(VUString(("inet:localhost:" + std::to_string(listener.Port())).c_str())),
            0)
      << socket.LastError();
  ArmWatchdog(socket);
  char buffer[2];
  EXPECT_EQ(socket.Receive(buffer, 2), 2);
  listener.Join();
  EXPECT_FALSE(listener.TimedOut());
}

TEST(SocketAddress, RefusedConnectionReturnsNonZeroWithTheReason) {
  int port = 0;
  {
    // A port that was just free and now has no listener.
    LoopbackListener closed(AF_INET);
    ASSERT_TRUE(closed.Ok());
    port = closed.Port();
  }
  Socket socket(3);
  EXPECT_EQ(socket.Connect(VUString(("inet:127.0.0.1:" + std::to_string(port)).c_str())), -3);
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_NE(socket.LastError().find("refused"), std::string::npos) << socket.LastError();
  EXPECT_EQ(socket.Send("STOP", 4), -1);
}

}  // namespace
