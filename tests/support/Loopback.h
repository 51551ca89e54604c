#pragma once
// Loopback TCP for tests: listeners at a port the system picks (never a fixed one), and a client connection whose
// receives and sends time out, so a peer that goes quiet fails the test instead of hanging it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "host/Socket.h"

namespace drav::test {

// A listening TCP socket (close-on-exec) on the loopback address of `family`
// at `*port` (0: the system picks one, stored back); -1 when none can be had.
inline int ListenOnLoopback(int family, int* port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
  sockaddr_in in{};
  sockaddr_in6 in6{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  in.sin_port = htons(static_cast<uint16_t>(*port));
  in6.sin6_family = AF_INET6;
  in6.sin6_addr = in6addr_loopback;
  in6.sin6_port = in.sin_port;
  sockaddr* address = family == AF_INET ? reinterpret_cast<sockaddr*>(&in) : reinterpret_cast<sockaddr*>(&in6);
  socklen_t length = family == AF_INET ? sizeof in : sizeof in6;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (fd < 0 || bind(fd, address, length) != 0 || listen(fd, 8) != 0 || getsockname(fd, address, &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(family == AF_INET ? in.sin_port : in6.sin6_port);
  return fd;
}

// A listener that a forked feeder accepts on; closed when destroyed.
struct LoopbackPort {
  explicit LoopbackPort(int family = AF_INET) : family(family) { fd = ListenOnLoopback(family, &port); }
  ~LoopbackPort() { Close(); }
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  std::string StreamName() const {  // "inet:127.0.0.1:PORT" or "inet:[::1]:PORT"
    return std::string(family == AF_INET ? "inet:127.0.0.1:" : "inet:[::1]:") + std::to_string(port);
  }
  int family, fd = -1, port = 0;
};

// Connects `socket` to `address` with a 10 s limit on every receive and send.
inline ::testing::AssertionResult Connected(Socket& socket, const std::string& address) {
  if (socket.Connect(VUString(address.c_str())) != 0)
    return ::testing::AssertionFailure() << "cannot connect to " << address << ": " << socket.LastError();
  const timeval limit{10, 0};
  setsockopt(socket.Descriptor(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket.Descriptor(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return ::testing::AssertionSuccess();
}

}  // namespace drav::test
