#pragma once
// A scripted TCP peer on the loopback address for socket tests, with the
// watchdogs that turn a hang into a failure: the listener polls with a
// timeout, and ArmWatchdog gives the client's descriptor receive and send
// timeouts.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class Socket;

namespace drav {
namespace test {

constexpr int kWatchdogMs = 10000;

// A listening TCP socket (close-on-exec) on the loopback address of one
// family (AF_INET or AF_INET6) at a port the system picks; -1 when none.
int ListenOnLoopback(int family, int* port);

// A listener on the loopback address of one family (AF_INET or AF_INET6),
// bound to a port the system picks, serving one scripted connection after
// another on its own thread.
class LoopbackListener {
 public:
  // Runs against the accepted descriptor, which is closed afterwards.
  using Script = std::function<void(int fd)>;

  explicit LoopbackListener(int family);
  ~LoopbackListener();  // joins the serving thread
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool Ok() const { return fd_ >= 0; }
  int Port() const { return port_; }
  // "inet:127.0.0.1:PORT" or "inet:[::1]:PORT".
  std::string Address() const;

  // Accepts one connection per script, in order, and runs it.
  void Serve(std::vector<Script> scripts);
  void Join();
  // True when a connection that a script waited for never came.
  bool TimedOut() const { return timedOut_; }

 private:
  int family_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  bool timedOut_ = false;
};

// Reads exactly `count` bytes unless the peer goes quiet for the watchdog.
std::string ReadBytes(int fd, std::size_t count);
// Sends `bytes` in pieces of the given sizes (cycled), pausing briefly
// between pieces so that the reader sees them arrive apart.
void WriteInPieces(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces);
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
