#include "tests/tools/TestFeeders.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace dravtest {
namespace {

constexpr int kDeadlineMs = 30000;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAllToPipe(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int LoopbackSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    port = 0;
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

RecordBuilder::RecordBuilder(const std::vector<int>& stringWidths, bool swapped) : swapped_(swapped) {
  for (int width : stringWidths) layout_.Append(width);
}

void RecordBuilder::AddCase(const std::vector<double>& numbers, const std::vector<std::string>& strings) {
  std::string record(layout_.RecordBytes(), drav::wire::kStringPad);
  std::size_t nextNumber = 0, nextString = 0;
  for (std::size_t i = 0; i < layout_.VariableCount(); ++i) {
    char* at = &record[layout_.ByteOffset(i)];
    if (layout_.IsString(i)) {
      const std::string& s = strings.at(nextString++);
      std::memcpy(at, s.data(), std::min(s.size(), static_cast<std::size_t>(layout_.StringWidth(i))));
    } else {
      const double v = numbers.at(nextNumber++);
      std::memcpy(at, &v, sizeof v);
      if (swapped_) std::reverse(at, at + sizeof v);
    }
  }
  bytes_ += record;
}

PipeFeeder::PipeFeeder(std::string path, std::string bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {
  if (mkfifo(path_.c_str(), 0600) != 0) return;
  thread_ = std::thread([this] {
    // Non-blocking opens fail with ENXIO until a reader is there; poll them
    // against a deadline rather than block for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
    int fd = -1;
    while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
      fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) usleep(10000);
    }
    if (fd < 0) return;
    fcntl(fd, F_SETFL, 0);
    delivered_ = WriteAllToPipe(fd, bytes_.data(), bytes_.size());
    close(fd);
  });
}

bool PipeFeeder::Join() {
  if (thread_.joinable()) thread_.join();
  return delivered_;
}

PipeFeeder::~PipeFeeder() {
  Join();
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) unlink(path_.c_str());
}

SocketFeeder::SocketFeeder(std::string bytes, bool swapped) : bytes_(std::move(bytes)), swapped_(swapped) {
  listenFd_ = LoopbackSocket(port_);
  if (listenFd_ < 0 || listen(listenFd_, 4) != 0) return;
  thread_ = std::thread([this] {
    pollfd waiting{listenFd_, POLLIN, 0};
    const int conn = poll(&waiting, 1, kDeadlineMs) == 1 ? accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    close(listenFd_);  // later connections (a rewind, a seek) are refused
    listenFd_ = -1;
    if (conn < 0) return;
    std::int32_t probe = drav::wire::kProbeValue;
    char probeBytes[4];
    std::memcpy(probeBytes, &probe, sizeof probe);
    if (swapped_) std::reverse(probeBytes, probeBytes + 4);
    if (WriteAll(conn, probeBytes, 4) && WriteAll(conn, bytes_.data(), bytes_.size())) {
      shutdown(conn, SHUT_WR);
      char buffer[64];
      pollfd reading{conn, POLLIN, 0};
      while (received_.size() < 4 && poll(&reading, 1, kDeadlineMs) == 1) {
        const ssize_t n = recv(conn, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        received_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    close(conn);
  });
}

std::string SocketFeeder::Join() {
  if (thread_.joinable()) thread_.join();
  return received_;
}

SocketFeeder::~SocketFeeder() {
  Join();
  if (listenFd_ >= 0) close(listenFd_);
}

DeafPort::DeafPort() { fd_ = LoopbackSocket(port_); }

DeafPort::~DeafPort() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace dravtest
