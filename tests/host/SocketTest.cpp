// The TCP client against real loopback listeners (port 0, a thread per
// listener). Every blocking step has a watchdog: the listener polls with a
// timeout, and the client's descriptor gets receive and send timeouts, so a
// fault fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

TEST_P(SocketFamilyTest, ReceivesAWholeRecordSentInPieces) {
  const std::string record = Record(80);
  listener_->Serve({[record](int fd) { WriteInPieces(fd, record, {1, 3, 7, 2, 13}); }});
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
  ArmWatchdog(socket);
  std::string buffer(record.size(), '\0');
  EXPECT_EQ(socket.Receive(&buffer[0], buffer.size()), static_cast<long>(record.size()));
  EXPECT_EQ(buffer, record);
}

TEST_P(SocketFamilyTest, ReceiveReturnsTheShortCountAtEndOfData) {
  listener_->Serve({[](int fd) { WriteInPieces(fd, Record(100), {64, 36}); }});
  Socket socket(3);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
  ArmWatchdog(socket);
  std::string buffer(64, '\0');
  EXPECT_EQ(socket.Receive(&buffer[0], 64), 64);
  EXPECT_EQ(socket.Receive(&buffer[0], 64), 36);  // the record cut by the end
  EXPECT_EQ(buffer.substr(0, 36), Record(100).substr(64));
  EXPECT_EQ(socket.Receive(&buffer[0], 64), 0);
}

TEST_P(SocketFamilyTest, SendDeliversEveryByte) {
  auto received = std::make_shared<std::string>();
  listener_->Serve({[received](int fd) { *received = ReadBytes(fd, 12); }});
  Socket socket(3);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
  ArmWatchdog(socket);
  const char message[] = "SEEK\x01\x02\x03\x04\x05\x06\x07\x08";
  EXPECT_EQ(socket.Send(message, 12), 12);
  listener_->Join();
  EXPECT_EQ(*received, std::string(message, 12));
}

TEST_P(SocketFamilyTest, ReconnectsAfterClear) {
  listener_->Serve({[](int fd) { WriteInPieces(fd, "first", {5}); },
                    [](int fd) { WriteInPieces(fd, "again", {2}); }});
  Socket socket(3);
  const VUString address(listener_->Address().c_str());
  ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
  ArmWatchdog(socket);
  char buffer[5];
  ASSERT_EQ(socket.Receive(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "first");
  socket.Clear();
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_EQ(socket.Receive(buffer, 5), -1);  // nothing to receive from
  ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
  ArmWatchdog(socket);
  ASSERT_EQ(socket.Receive(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "again");
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

volatile sig_atomic_t g_signals = 0;
void CountSignal(int) { g_signals = g_signals + 1; }

TEST_P(SocketFamilyTest, ReceiveResumesAfterASignalInterruptsIt) {
  // Without SA_RESTART a signal makes a blocked recv fail with EINTR; the
  // record must still arrive whole.
  struct sigaction action {}, previous{};
  action.sa_handler = &CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  g_signals = 0;
  const pthread_t reader = pthread_self();
  listener_->Serve({[reader](int fd) {
    WriteInPieces(fd, "half", {4});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the reader block
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    WriteInPieces(fd, "rest", {4});
  }});
  Socket socket(3);
  ASSERT_EQ(socket.Connect(VUString(listener_->Address().c_str())), 0) << socket.LastError();
  ArmWatchdog(socket);
  char buffer[8];
  EXPECT_EQ(socket.Receive(buffer, 8), 8) << socket.LastError();
  EXPECT_EQ(std::string(buffer, 8), "halfrest");
  listener_->Join();
  EXPECT_EQ(g_signals, 1);
  sigaction(SIGUSR1, &previous, nullptr);
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
