#include "tests/support/WireReader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace drav::test {
namespace {

void AwaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, kIoTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1) throw std::runtime_error("the feeder went silent");
}

// Writes `message` into the FIFO `fd`, one byte at a time when `bytewise`,
// each only once the pipe is empty again (the reader has taken the byte).
bool WriteControl(int fd, const std::string& message, bool bytewise) {
  if (!bytewise) return write(fd, message.data(), message.size()) == static_cast<ssize_t>(message.size());
  for (char byte : message) {
    if (write(fd, &byte, 1) != 1) return false;
    for (int unread = 1, waited = 0; unread > 0; usleep(1000))
      if (ioctl(fd, FIONREAD, &unread) != 0 || ++waited > kIoTimeoutMs) return false;
  }
  return true;
}

int ConnectTo(int port, bool ipv6) {
  sockaddr_storage address{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (ipv6) {
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
  } else {
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
  }
  const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), ipv6 ? sizeof *v6 : sizeof *v4) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error(std::string("cannot connect: ") + std::strerror(errno));
  }
  return fd;
}

}  // namespace

std::string WireReader::Begin() {
  Close(true, false);
  if (port_ == 0) {
    fd_ = open(data_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + data_ + ": " + std::strerror(errno));
    return "";
  }
  fd_ = ConnectTo(port_, ipv6_);
  return Read(wire::kProbeBytes);
}

void WireReader::Connect() {
  Close(true, false);
  fd_ = ConnectTo(port_, ipv6_);
}

void WireReader::Ask(const std::string& message) {
  if (port_ != 0) {
    Connect();
    Send(message);
    return;
  }
  // A blocking open: the feeder holds the rewind pipe's read end.
  const int rewind = open(rewind_.c_str(), O_WRONLY | O_CLOEXEC);
  if (rewind < 0 || !WriteControl(rewind, message, bytewise_))
    throw std::runtime_error("cannot write to the rewind pipe " + rewind_);
  close(rewind);
  const int fd = open(data_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + data_ + ": " + std::strerror(errno));
  Close(false, false);
  fd_ = fd;
}

std::string WireReader::Read(std::size_t bytes) {
  std::string data;
  char buffer[65536];
  while (data.size() < bytes) {
    AwaitReadable(fd_);
    const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, bytes - data.size()));
    if (n < 0 && errno == EINTR) continue;
    reset_ = n < 0 && errno == ECONNRESET;
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

void WireReader::Send(const std::string& bytes) {
  if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error(std::string("cannot send: ") + std::strerror(errno));
}

void WireReader::Close(bool stop, bool reset) {
  if (fd_ < 0) return;
  if (port_ != 0 && stop) send(fd_, wire::kStop, wire::kControlWordBytes, MSG_NOSIGNAL);
  if (port_ != 0 && reset) {
    const linger hardClose{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
  }
  close(fd_);
  fd_ = -1;
}

}  // namespace drav::test
