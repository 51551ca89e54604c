#include "tests/support/LoopbackListener.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "host/Socket.h"

namespace drav {
namespace test {

int ListenOnLoopback(int family, int* port) {
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  auto* in = reinterpret_cast<sockaddr_in*>(&address);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
  socklen_t length = family == AF_INET ? sizeof *in : sizeof *in6;
  if (family == AF_INET) {
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  } else {
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = in6addr_loopback;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(family == AF_INET ? in->sin_port : in6->sin6_port);
  return fd;
}

LoopbackListener::LoopbackListener(int family) : family_(family) { fd_ = ListenOnLoopback(family, &port_); }

LoopbackListener::~LoopbackListener() {
  Join();
  if (fd_ >= 0) close(fd_);
}

std::string LoopbackListener::Address() const {
  const std::string host = family_ == AF_INET ? "127.0.0.1" : "[::1]";
  return "inet:" + host + ":" + std::to_string(port_);
}

void LoopbackListener::Serve(std::vector<Script> scripts) {
  thread_ = std::thread([this, scripts] {
    for (const Script& script : scripts) {
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, kWatchdogMs) != 1) {
        timedOut_ = true;
        return;
      }
      int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      script(client);
      close(client);
    }
  });
}

void LoopbackListener::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string ReadBytes(int fd, std::size_t count) {
  std::string out;
  char buffer[256];
  while (out.size() < count) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, kWatchdogMs) != 1) break;
    ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

void WriteInPieces(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces) {
  std::size_t at = 0;
  for (std::size_t i = 0; at < bytes.size(); ++i) {
    std::size_t piece = std::min(pieces[i % pieces.size()], bytes.size() - at);
    ASSERT_EQ(send(fd, bytes.data() + at, piece, MSG_NOSIGNAL), static_cast<ssize_t>(piece));
    at += piece;
    // Give the reader a chance to wake up between pieces.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ArmWatchdog(const Socket& socket) {
  timeval limit{kWatchdogMs / 1000, 0};
  setsockopt(socket.Descriptor(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket.Descriptor(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

::testing::AssertionResult Connected(Socket& socket, const std::string& address) {
  if (socket.Connect(VUString(address.c_str())) != 0)
    return ::testing::AssertionFailure() << "cannot connect to " << address << ": " << socket.LastError();
  ArmWatchdog(socket);
  return ::testing::AssertionSuccess();
}

std::string PatternBytes(std::size_t bytes) {
  std::string out(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>(i % 251);
  return out;
}

}  // namespace test
}  // namespace drav
