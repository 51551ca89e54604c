#pragma once
// Loopback TCP for tests: listeners at a port the system picks (never a
// fixed one), and a client connection whose receives and sends time out, so
// a peer that goes quiet fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>

class Socket;

namespace drav {
namespace test {

// A listening TCP socket (close-on-exec) on the loopback address of `family`
// at `*port` (0: the system picks one, stored back); -1 when none can be had.
int ListenOnLoopback(int family, int* port);

// A listener that a forked feeder accepts on; closed when destroyed.
struct LoopbackPort {
  explicit LoopbackPort(int family = AF_INET) : family(family) { fd = ListenOnLoopback(family, &port); }
  ~LoopbackPort() { Close(); }
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  void Close();
  std::string StreamName() const;  // "inet:127.0.0.1:PORT" or "inet:[::1]:PORT"
  int family, fd = -1, port = 0;
};

// Connects `socket` to `address` with a 10 s limit on every receive and send.
::testing::AssertionResult Connected(Socket& socket, const std::string& address);

}  // namespace test
}  // namespace drav
