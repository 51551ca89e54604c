#pragma once
// Loopback TCP for tests: a listening port a scripted feeder process
// (FeederProcess) accepts on, and the client side's watchdog, which turns a
// peer that goes quiet into a failure instead of a hang.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstddef>
#include <string>

class Socket;

namespace drav {
namespace test {

constexpr int kWatchdogMs = 10000;

// A listening TCP socket (close-on-exec) on the loopback address of one
// family (AF_INET or AF_INET6) at a port the system picks; -1 when none.
int ListenOnLoopback(int family, int* port);

// A listener that a feeder forked after it accepts on; closed when destroyed.
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

// The client side's watchdog: a receive or send that waits this long fails.
void ArmWatchdog(const Socket& socket);
// Connects `socket` to `address` and arms its watchdog.
::testing::AssertionResult Connected(Socket& socket, const std::string& address);
// Bytes that each depend on their position, with a period (251, prime) that
// no request or buffer size divides, so a byte delivered twice, skipped or
// out of place shows.
std::string PatternBytes(std::size_t bytes);

}  // namespace test
}  // namespace drav
