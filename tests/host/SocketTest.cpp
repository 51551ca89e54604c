// The TCP client against real loopback listeners served by feeder processes: its
// receive buffer, reconnects, options, addresses, signals while connecting, a gone peer.
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>

#include "host/SockAPIWrap.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedFeeder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"

namespace drav::test {
namespace {

constexpr std::size_t kBuffer = Socket::kReceiveBufferBytes;

// The request sizes of a row are cycled; only the end of the stream may give a short count.
TEST(SocketBuffer, EveryRequestGetsTheNextBytesHoweverTheyArrive) {
  const struct {
    const char* name;
    std::vector<std::size_t> requests, pieces;
    std::size_t streamBytes;
  } cases[] = {
      {"records in odd pieces", {4, 80}, {1, 7, 13, 100, 3, 160}, 3000},
      {"8-byte records over several fills", {8}, {}, 4 * kBuffer + 24},
      {"8192-byte records over several fills", {8192}, {}, 3 * kBuffer + 8192 * 5},
      {"requests beside the buffer size", {100, kBuffer - 1, kBuffer, kBuffer + 3, 7}, {}, 6 * kBuffer},
      {"one large request in pieces", {kBuffer * 2 + 11}, {65536, 1, 99999}, kBuffer * 2 + 11},
      {"record cut by the end", {80}, {}, 200},
      {"large request cut by the end", {4096, 2 * kBuffer}, {}, kBuffer + 4096 + 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Bytes with a prime period (251) no request or buffer size divides: a byte repeated, skipped or moved shows.
    std::string stream(c.streamBytes, '\0');
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(i % 251);
    LoopbackPort port;
    ScriptedFeeder feeder([&] { child::Write(child::AcceptOne(port.fd), stream, c.pieces, c.pieces.empty() ? 0 : 1000); });
    Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
    ASSERT_TRUE(Connected(socket, port.StreamName()));
    std::string got;
    for (std::size_t i = 0, at = 0; at < stream.size(); ++i) {
      const std::size_t asked = c.requests[i % c.requests.size()], length = std::min(asked, stream.size() - at);
      got.assign(asked, '\0');
      ASSERT_EQ(socket.Receive(&got[0], asked), static_cast<long>(length)) << "at byte " << at << ": " << socket.LastError();
      ASSERT_TRUE(got.compare(0, length, stream, at, length) == 0) << "wrong bytes at byte " << at;
      at += length;
    }
    char extra;
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "bytes beyond the end of the stream";
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "the end of the data stays the end";
    EXPECT_TRUE(feeder.RanToTheEnd());
  }
}

// Over each family: the options asked for, a message sent whole, and nothing the first
// connection left in the buffer delivered after connecting again (Clear first, or not).
TEST(SocketConnection, SendsReceivesAndConnectsAgainWithNothingStale) {
  Watchdog watchdog(60, "socket connection");
  const std::string seek("SEEK\x01\x02\x03\x04\x05\x06\x07\x08", 12);
  for (const int family : {AF_INET, AF_INET6}) {
    for (const bool clearFirst : {true, false}) {
      SCOPED_TRACE(std::string(family == AF_INET ? "IPv4" : "IPv6") + (clearFirst ? ", Clear first" : ""));
      LoopbackPort port(family);
      if (port.fd < 0) continue;  // no loopback for this family on this machine
      ScriptedFeeder feeder([&] {
        const int first = child::AcceptOne(port.fd);
        child::Expect(first, seek);
        child::Write(first, std::string(80, 'A') + std::string(80, 'B'), {});
        child::Write(child::AcceptOne(port.fd), std::string(80, 'C'), {1, 3, 7});
        close(first);
      });
      Socket socket(clearFirst ? Socket::kKeepAlive : Socket::kNoDelay);  // each option alone
      ASSERT_TRUE(Connected(socket, port.StreamName()));
      const int fd = socket.Descriptor();
      int keepAlive = 0, noDelay = 0;
      socklen_t length = sizeof keepAlive;
      getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &length);
      getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length);
      EXPECT_EQ(keepAlive != 0, clearFirst);
      EXPECT_EQ(noDelay != 0, !clearFirst);
      EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "reads must block after connecting";
      EXPECT_EQ(socket.Send(seek.data(), seek.size()), 12);
      std::string record(80, '\0');
      // Both records stand in the kernel's queue, so one receive takes both.
      for (int queued = 0; queued < 160 && ioctl(fd, FIONREAD, &queued) == 0;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_EQ(socket.Receive(&record[0], 80), 80);
      EXPECT_EQ(record, std::string(80, 'A'));
      if (clearFirst) {
        socket.Clear();
        EXPECT_FALSE(socket.IsConnected());
        EXPECT_EQ(socket.Receive(&record[0], 80), -1) << "a cleared socket has nothing to give";
      }
      ASSERT_TRUE(Connected(socket, port.StreamName()));
      ASSERT_EQ(socket.Receive(&record[0], 80), 80) << socket.LastError();
      EXPECT_EQ(record, std::string(80, 'C'));
      EXPECT_TRUE(feeder.RanToTheEnd()) << "the feeder did not receive the SEEK message whole";
    }
  }
}

// A peer that closed: the first send after its end draws a reset, a later one fails with EPIPE, which must not raise
// SIGPIPE (it would end this program). With the host's standard input closed, the socket is descriptor 0.
TEST(SocketConnection, SendToAPeerThatHasGoneFailsWithoutSigpipe) {
  signal(SIGPIPE, SIG_DFL);
  LoopbackPort port;
  const int savedStdin = dup(0);
  close(0);
  Socket socket(3);
  ASSERT_TRUE(Connected(socket, port.StreamName()));
  EXPECT_EQ(socket.Descriptor(), 0);
  close(accept(port.fd, nullptr, nullptr));
  char byte;
  ASSERT_EQ(socket.Receive(&byte, 1), 0) << "the peer's end of the data";
  const std::string chunk(4096, 'x');
  EXPECT_EQ(socket.Send(chunk.data(), chunk.size()), 4096) << "the first send after the end still goes out";
  int failures = 0;
  for (int i = 0; i < 200 && failures < 2; ++i) {
    const int sent = socket.Send(chunk.data(), chunk.size());
    if (sent == static_cast<int>(chunk.size())) continue;
    ++failures;
    EXPECT_GE(sent, -1) << "failure " << failures;  // -1: nothing was sent
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(failures, 2);
  EXPECT_FALSE(socket.LastError().empty());
  socket.Clear();
  dup2(savedStdin, 0);
  close(savedStdin);
}

// The plug-in ends its pass at any short count alike; the socket keeps how the data ended, so that a host can tell a
// feeder that finished from one that broke off. A new connection starts with no end.
TEST(SocketEnd, TellsAnOrderlyEndFromACutRecordAndFromAReset) {
  const struct {
    const char* name;
    std::size_t bytes;
    bool reset;
    long lastCount;
    Socket::End end;
    const char* error;
  } cases[] = {
      {"orderly, between records", 160, false, 0, Socket::End::kOrderly, "the peer closed the connection"},
      {"orderly, inside a record", 120, false, 40, Socket::End::kInsideRequest, "the peer closed the connection"},
      {"reset after whole records", 160, true, -1, Socket::End::kReset, "receive failed: Connection reset by peer"},
      {"reset inside a record", 120, true, 40, Socket::End::kReset, "receive failed: Connection reset by peer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackPort port;
    ScriptedFeeder feeder([&] {
      const int fd = child::AcceptOne(port.fd);
      child::Write(fd, std::string(c.bytes, 'r'), {});
      const linger reset{1, 0};
      if (c.reset) setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      close(fd);
    });
    Socket socket(3);
    // The reset may come before Connect has seen the connection made.
    ASSERT_TRUE(Connected(socket, port.StreamName()));
    std::string record(80, '\0');
    long count;
    while ((count = socket.Receive(&record[0], 80)) == 80) EXPECT_EQ(socket.LastEnd(), Socket::End::kNone);
    EXPECT_EQ(count, c.lastCount);
    EXPECT_EQ(socket.LastError(), c.error);
    EXPECT_LE(socket.Receive(&record[0], 80), 0);
    EXPECT_EQ(socket.LastEnd(), c.end) << "a receive after the end changed how it ended";
    EXPECT_EQ(Socket::LastEndInProcess(), c.end);
    EXPECT_TRUE(feeder.RanToTheEnd());
    LoopbackPort next;  // its backlog takes the connection
    ASSERT_TRUE(Connected(socket, next.StreamName()));
    EXPECT_EQ(Socket::LastEndInProcess(), Socket::End::kNone);
  }
}

// Refused before any system call: malformed addresses and ports outside 1 to 65535; a
// well-formed address nobody listens at is refused by the peer, with the reason.
TEST(SocketAddress, RefusesMalformedAddressesAndSaysWhyAConnectFailed) {
  int freePort = 0;
  close(ListenOnLoopback(AF_INET, &freePort));  // free a moment ago, nobody listens now
  const std::string closed = "inet:127.0.0.1:" + std::to_string(freePort);
  const struct {
    std::string address;
    int result;
  } cases[] = {{"", -1}, {"localhost:5000", -1}, {"inet:", -1}, {"inet:host", -1}, {"inet::5000", -1},
               {"inet:host:", -1}, {"inet:host:abc", -1}, {"inet:host:65536", -1}, {"inet:host:0", -1},
               {"inet:[]:5000", -1}, {"inet:host:-1", -1}, {"inet:host:5 0", -1}, {"inet:no.such.host.invalid:1", -2},
               {closed, -3}, {"inet:127.0.0.1:65535", -3}, {"inet:[::1]:65535", -3}};
  const std::size_t descriptors = TempDir::EntriesOf("/proc/self/fd").size();
  for (const auto& c : cases) {
    Socket socket(3);
    EXPECT_EQ(socket.Connect(VUString(c.address.c_str())), c.result) << c.address << ": " << socket.LastError();
    EXPECT_FALSE(socket.IsConnected()) << c.address;
    EXPECT_NE(socket.LastError(), "") << c.address;
    if (c.address == closed) {
      EXPECT_NE(socket.LastError().find("refused"), std::string::npos) << socket.LastError();
    }
    EXPECT_EQ(socket.Send("STOP", 4), -1) << c.address;
    char byte;
    EXPECT_EQ(socket.Receive(&byte, 1), -1) << c.address;
    EXPECT_EQ(socket.LastError(), "receive on a socket that is not connected");
  }
  EXPECT_EQ(TempDir::EntriesOf("/proc/self/fd").size(), descriptors) << "a failed connect kept its descriptor";
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit none{0, limit.rlim_max};  // not one descriptor more: the socket itself cannot be made
  setrlimit(RLIMIT_NOFILE, &none);
  Socket starved(3);
  EXPECT_EQ(starved.Connect(VUString(closed.c_str())), -3);
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_NE(starved.LastError().find("Too many open files"), std::string::npos) << starved.LastError();
  Socket socket(3);
  SockAPIWrap wrap(SockAPIWrap::kNoSsl);
  std::string canonical = "previous";
  EXPECT_EQ(wrap.GetCanonicalHostByName("localhost", canonical), 0);
  LoopbackPort listener;  // the canonical name of localhost stays a loopback name
  EXPECT_TRUE(Connected(socket, "inet:" + canonical + ":" + std::to_string(listener.port)));
  EXPECT_NE(wrap.GetCanonicalHostByName("", canonical), 0);
  EXPECT_EQ(canonical, "");
}

// A name with two addresses, a listener at the same port on each: the client stops at the first that answers (another
// connection would leak its descriptor), and with it gone reaches the other. The name: a child's private hosts file.
TEST(SocketAddress, TriesEveryAddressOfANameAndStopsAtTheFirstThatAnswers) {
  TempDir dir;
  const std::string hosts = dir.WriteFile("hosts", "::1 twohomes\n127.0.0.1 twohomes\n");
  int port = 0, v6 = ListenOnLoopback(AF_INET6, &port), v4 = -1;
  if (v6 >= 0) v4 = ListenOnLoopback(AF_INET, &port);
  if (v4 < 0) GTEST_SKIP() << "no IPv4 and IPv6 loopback listeners at one port";
  constexpr int kNoNamespace = 77;
  ScriptedFeeder client([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
      _exit(kNoNamespace);
    const VUString address(("inet:twohomes:" + std::to_string(port)).c_str());
    Socket socket(3);
    if (socket.Connect(address) != 0) _exit(1);
    pollfd waiting[2] = {{v6, POLLIN, 0}, {v4, POLLIN, 0}};
    if (poll(waiting, 2, 200) != 1) _exit(2);  // exactly one listener has a connection
    close(waiting[0].revents ? v6 : v4);
    if (socket.Connect(address) != 0) _exit(3);
    _exit(0);
  });
  const int status = client.Wait();
  close(v4);
  close(v6);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no private mount namespace";
  EXPECT_EQ(status, 0) << "failed at step " << WEXITSTATUS(status);
}

std::atomic<long> g_signals{0};

// A full listen queue holds the connect while a signal (no SA_RESTART) hits the thread every millisecond.
TEST(SocketConnect, SignalsWhileConnectingDoNotFailTheConnect) {
  LoopbackPort port;
  ASSERT_EQ(listen(port.fd, 0), 0);
  Socket filler(3);
  ASSERT_TRUE(Connected(filler, port.StreamName()));
  struct sigaction action {}, saved{};
  action.sa_handler = [](int) { g_signals.fetch_add(1); };
  sigaction(SIGUSR1, &action, &saved);
  g_signals = 0;
  const pthread_t connecting = pthread_self();
  std::atomic<bool> done{false};
  std::thread storm([&] {
    for (int i = 0; !done; ++i) {
      pthread_kill(connecting, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (i == 300) close(accept(port.fd, nullptr, nullptr));  // room in the queue: the connect completes
    }
  });
  Socket socket(3);
  const int result = socket.Connect(VUString(port.StreamName().c_str()));
  done = true;
  storm.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(result, 0) << socket.LastError();
  EXPECT_GE(g_signals.load(), 100) << "the signals must really hit the connect";
}

}  // namespace
}  // namespace drav::test
