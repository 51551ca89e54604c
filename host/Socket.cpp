#include "host/Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr char kInetPrefix[] = "inet:";

std::atomic<Socket::End> lastEndInProcess{Socket::End::kNone};

// errno, read once where a call failed, turned into the text LastError gives.
std::string ErrnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

struct HostPort {
  std::string host;
  std::string port;
};

// Splits "inet:HOST:PORT". The port follows the last colon, so an IPv6
// literal may be written bare or in brackets. Returns false with `why` set
// when the address has no host, no port, or a port that is not a number
// from 1 to 65535.
bool ParseAddress(const std::string& address, HostPort& out, std::string& why) {
  const std::size_t prefixLength = sizeof(kInetPrefix) - 1;
  if (address.compare(0, prefixLength, kInetPrefix) != 0) {
    why = "the socket address \"" + address + "\" does not begin with \"inet:\"";
    return false;
  }
  const std::string rest = address.substr(prefixLength);
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos) {
    why = "the socket address \"" + address + "\" has no port after a colon";
    return false;
  }
  std::string host = rest.substr(0, colon);
  const std::string port = rest.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) {
    why = "the socket address \"" + address + "\" has no host name";
    return false;
  }
  bool digits = !port.empty() && port.size() <= 5;
  for (char c : port) digits = digits && c >= '0' && c <= '9';
  if (!digits || std::stoul(port) == 0 || std::stoul(port) > 65535) {
    why = "the socket address \"" + address + "\" has no valid port number (1 to 65535)";
    return false;
  }
  out.host = host;
  out.port = port;
  return true;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Connects a new non-blocking descriptor to `ai` within the deadline, then
// puts it back into blocking mode. Returns the descriptor, or -1 with the
// errno of the failing step in `error`. A peer that accepted and reset the
// connection before we looked still connected: `reset` tells, since the
// look took the error away from the receives to come.
int ConnectOne(const addrinfo* ai, std::chrono::steady_clock::time_point deadline, int& error, bool& reset) {
  reset = false;
  int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  int rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
  if (rc != 0 && errno != EINPROGRESS) {
    error = errno;
    close(fd);
    return -1;
  }
  while (rc != 0) {
    pollfd pfd{fd, POLLOUT, 0};
    int ready = poll(&pfd, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      error = ready == 0 ? ETIMEDOUT : errno;
      close(fd);
      return -1;
    }
    int soError = 0;
    socklen_t soLength = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &soLength) != 0) soError = errno;
    reset = soError == ECONNRESET;
    if (soError != 0 && !reset) {
      error = soError;
      close(fd);
      return -1;
    }
    rc = 0;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = errno;
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

Socket::Socket(unsigned long options) : options_(options) {}

Socket::~Socket() { Clear(); }

Socket::End Socket::LastEndInProcess() { return lastEndInProcess.load(); }

void Socket::SetEnd(End end) {
  end_ = end;
  lastEndInProcess.store(end);
}

int Socket::Connect(const VUString& address) {
  Clear();
  SetEnd(End::kNone);
  HostPort target;
  if (!ParseAddress(address.str(), target, lastError_)) return -1;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No AI_ADDRCONFIG: it hides ::1 on a host whose only IPv6 address is the
  // loopback one. Every address is tried anyway, and one of a family the
  // host cannot reach fails at once.
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(target.host.c_str(), target.port.c_str(), &hints, &found);
  if (rc != 0) {
    lastError_ = "cannot resolve host \"" + target.host + "\": " + gai_strerror(rc);
    return -2;
  }

  // Each address gets its own deadline, so one that never answers does not
  // rob the others of their chance.
  int error = ECONNREFUSED;
  for (const addrinfo* ai = found; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    fd_ = ConnectOne(ai, deadline, error, peerReset_);
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    lastError_ = ErrnoText("cannot connect to " + target.host + " port " + target.port, error);
    return -3;
  }

  const int on = 1;
  if (options_ & kKeepAlive) setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  if (options_ & kNoDelay) setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  lastError_.clear();
  return 0;
}

long Socket::Receive(const char* buffer, unsigned long length) {
  if (fd_ < 0) {
    lastError_ = "receive on a socket that is not connected";
    return -1;
  }
  // The interface hands the buffer in as const; it is the caller's writable
  // case buffer all the same.
  char* out = const_cast<char*>(buffer);
  std::size_t received = TakeBuffered(out, length);
  while (received < length) {
    // Here the receive buffer is empty. A request that would fill it anyway
    // goes straight to the caller, saving the copy.
    const std::size_t missing = length - received;
    const bool direct = missing >= kReceiveBufferBytes;
    if (!direct && !buffer_) buffer_.reset(new char[kReceiveBufferBytes]);
    const long n = direct ? ReceiveSome(out + received, missing)
                          : ReceiveSome(buffer_.get(), kReceiveBufferBytes);
    if (n <= 0) {
      // The first end is the one that counts: a receive after a reset, say,
      // only finds the end again.
      if (end_ == End::kNone) SetEnd(n < 0 ? End::kReset : received > 0 ? End::kInsideRequest : End::kOrderly);
      if (n < 0 && received == 0) return -1;
      break;
    }
    if (direct) {
      received += static_cast<std::size_t>(n);
    } else {
      bufferBegin_ = 0;
      bufferEnd_ = static_cast<std::size_t>(n);
      received += TakeBuffered(out + received, missing);
    }
  }
  return static_cast<long>(received);
}

long Socket::ReceiveSome(char* into, std::size_t capacity) {
  for (;;) {
    const ssize_t n = recv(fd_, into, capacity, 0);
    if (n > 0) return static_cast<long>(n);
    if (n == 0 && peerReset_) {
      lastError_ = ErrnoText("receive failed", ECONNRESET);
      return -1;
    }
    if (n == 0) {
      lastError_ = "the peer closed the connection";
      return 0;
    }
    if (errno != EINTR) {
      lastError_ = ErrnoText("receive failed", errno);
      return -1;
    }
  }
}

std::size_t Socket::TakeBuffered(char* out, std::size_t length) {
  const std::size_t count = std::min(length, bufferEnd_ - bufferBegin_);
  if (count > 0) {
    std::memcpy(out, buffer_.get() + bufferBegin_, count);
    bufferBegin_ += count;
  }
  return count;
}

int Socket::Send(const char* buffer, unsigned long length) {
  if (fd_ < 0) {
    lastError_ = "send on a socket that is not connected";
    return -1;
  }
  unsigned long sent = 0;
  while (sent < length) {
    ssize_t n = send(fd_, buffer + sent, length - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<unsigned long>(n);
    } else if (n == 0) {
      lastError_ = "the connection accepted no more bytes";
      break;
    } else if (errno != EINTR) {
      lastError_ = ErrnoText("send failed", errno);
      if (sent == 0) return -1;
      break;
    }
  }
  return static_cast<int>(sent);
}

void Socket::Clear() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  peerReset_ = false;
  bufferBegin_ = 0;
  bufferEnd_ = 0;
}
