#pragma once
// Loopback TCP for tests: listeners at a port the system picks (never a fixed one), and a client connection whose
// receives and sends time out, so a peer that goes quiet fails the test instead of hanging it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/Socket.h"

namespace drav::test {

// The loopback address of `family` (AF_INET or AF_INET6) at `port`, put in `address`; its length.
inline socklen_t LoopbackAddress(int family, int port, sockaddr_storage& address) {
  address = sockaddr_storage{};
  address.ss_family = static_cast<sa_family_t>(family);
  if (family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_addr = in6addr_loopback;
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(static_cast<uint16_t>(port));
    return sizeof(sockaddr_in6);
  }
  reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(port));
  return sizeof(sockaddr_in);
}

// A listening TCP socket (close-on-exec) on the loopback address of `family`
// at `*port` (0: the system picks one, stored back); -1 when none can be had.
inline int ListenOnLoopback(int family, int* port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
  sockaddr_storage storage;
  socklen_t length = LoopbackAddress(family, *port, storage);
  sockaddr* address = reinterpret_cast<sockaddr*>(&storage);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (fd < 0 || bind(fd, address, length) != 0 || listen(fd, 8) != 0 || getsockname(fd, address, &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(storage).sin_port
                                  : reinterpret_cast<sockaddr_in6&>(storage).sin6_port);
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
