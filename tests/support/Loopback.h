#pragma once
// Loopback TCP for tests: a listener on a port the system picks (never a
// fixed one), and a client connection with a watchdog on every receive and
// send, so a peer that goes quiet fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>

class Socket;

namespace drav {
namespace test {

// A listening TCP socket (close-on-exec) on the loopback address of
// `family` (AF_INET or AF_INET6) at `port` (0: the system picks one, stored
// back in `port`); -1 when it cannot be had.
int ListenOnLoopback(int family, int* port);

// A listener that a forked feeder accepts on; closed when destroyed.
struct LoopbackPort {
  explicit LoopbackPort(int family = AF_INET);
  ~LoopbackPort();
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  void Close();
  // "inet:127.0.0.1:PORT" or "inet:[::1]:PORT".
  std::string StreamName() const;
  int family;
  int fd = -1;
  int port = 0;
};

// Connects `socket` to `address` and gives it a 10 s watchdog.
::testing::AssertionResult Connected(Socket& socket, const std::string& address);

}  // namespace test
}  // namespace drav
