#include "dravfeed/SocketServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "base/WireFormat.h"
#include "dravfeed/FeederError.h"
#include "feeder/records/PosixIo.h"
#include "feeder/serving/ControlDecoder.h"
#include "feeder/serving/SendBatch.h"

namespace drav {
namespace feed {
namespace {

constexpr int kMaxWaitMs = 100;
constexpr std::int64_t kNewReaderAfterMs = 1000;
constexpr int kPortAttempts = 20;
// While a pass waits to be broken off, how often to look whether the reader
// has every byte sent, and how long to wait for a reader that reads no more.
constexpr int kBreakPollMs = 5;
constexpr std::int64_t kBreakWaitMs = 10000;

struct Address {
  sockaddr_storage storage;
  socklen_t length;
};

std::vector<Address> Resolve(const std::string& host) {
  std::vector<Address> addresses;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0) throw FeederError("cannot resolve " + host + ": " + gai_strerror(error));
  for (addrinfo* a = found; a; a = a->ai_next) {
    Address address{};
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const Address& other) {
      return other.length == address.length &&
             std::memcmp(&other.storage, &address.storage, address.length) == 0;
    });
    if (!seen) addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

std::vector<Address> Loopback() {
  std::vector<Address> addresses;
  Address v6{};
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&v6.storage);
  in6->sin6_family = AF_INET6;
  in6->sin6_addr = in6addr_loopback;
  v6.length = sizeof(sockaddr_in6);
  addresses.push_back(v6);
  Address v4{};
  auto* in4 = reinterpret_cast<sockaddr_in*>(&v4.storage);
  in4->sin_family = AF_INET;
  in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  v4.length = sizeof(sockaddr_in);
  addresses.push_back(v4);
  return addresses;
}

void SetPort(Address& address, int port) {
  if (address.storage.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
}

int PortOf(int fd) {
  Address address{};
  address.length = sizeof address.storage;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length);
  if (address.storage.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port);
}

// One listening socket; -1 with `error` set when this address cannot be
// used on this machine.
int ListenOn(Address address, int port, int& error) {
  posix::Result made = posix::Checked(
      socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!made.ok()) {
    error = made.error;
    return -1;
  }
  int fd = static_cast<int>(made.value);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // The IPv4 address gets a socket of its own on the same port.
  if (address.storage.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  SetPort(address, port);
  posix::Result bound =
      posix::Checked(bind(fd, reinterpret_cast<sockaddr*>(&address.storage), address.length));
  if (bound.ok()) bound = posix::Checked(listen(fd, 16));
  if (!bound.ok()) {
    error = bound.error;
    posix::Close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

class DRAV_FEED_HIDDEN SocketServer::Impl {
 public:
  Impl(CaseSource& source, ByteOrder order, int port, const std::string& bindAddress,
       ServeOptions options);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  int Port() const { return port_; }
  ServeStats Serve();

 private:
  struct Connection;

  void Listen(const std::string& bindAddress, int port);
  void AcceptAll(int listenFd);
  void Service(Connection& connection, short revents);
  void ReadControl(Connection& connection);
  void SendSome(Connection& connection);
  void Start(Connection& connection, std::int64_t firstCase, bool withProbe);
  void Finish(Connection& connection, const char* why);
  void BreakOff(Connection& connection);
  void AbortAll();
  void Drop(Connection& connection, const char* why);
  void Event(const std::string& text) const;

  CaseSource& source_;
  ByteOrder order_;
  ServeOptions options_;
  ServeStats stats_;
  std::vector<int> listeners_;
  std::vector<std::unique_ptr<Connection>> connections_;
  int port_ = 0;
  bool servedAny_ = false;
  std::int64_t idleSinceMs_ = 0;
};

struct SocketServer::Impl::Connection {
  Connection(int descriptor, ByteOrder order, CaseSource& source)
      : fd(descriptor), control(order), batch(source), acceptedMs(posix::NowMs()) {}
  // kBreaking: every case before the source's break is sent; the reset
  // waits until the reader has them.
  enum class Phase { kAwaitControl, kSending, kBreaking, kFinished };
  int fd;
  Phase phase = Phase::kAwaitControl;
  ControlDecoder control;
  SendBatch batch;
  std::int64_t acceptedMs;
  std::int64_t breakingSinceMs = 0;
  bool closed = false;
};

SocketServer::Impl::Impl(CaseSource& source, ByteOrder order, int port,
                           const std::string& bindAddress, ServeOptions options)
    : source_(source), order_(order), options_(std::move(options)) {
  if (port < 0 || port > 65535) throw FeederError("port " + std::to_string(port) + " is out of range");
  Listen(bindAddress, port);
}

SocketServer::Impl::~Impl() {
  for (int fd : listeners_) posix::Close(fd);
  for (auto& connection : connections_) posix::Close(connection->fd);
}

void SocketServer::Impl::Listen(const std::string& bindAddress, int port) {
  std::vector<Address> addresses = bindAddress.empty() ? Loopback() : Resolve(bindAddress);
  std::string where = bindAddress.empty() ? "loopback" : bindAddress;
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    int chosen = port;
    int error = 0;
    bool portTaken = false;
    for (const Address& address : addresses) {
      int fd = ListenOn(address, chosen, error);
      if (fd < 0) {
        // An address family this machine lacks is skipped; a port that the
        // system chose for the first address but is taken on another one
        // makes us start again with a new choice.
        portTaken = error == EADDRINUSE && port == 0 && !listeners_.empty();
        if (portTaken) break;
        if (error == EADDRNOTAVAIL || error == EAFNOSUPPORT) continue;
        for (int open : listeners_) posix::Close(open);
        listeners_.clear();
        throw SystemError("cannot listen on " + where + " port " + std::to_string(chosen), error);
      }
      listeners_.push_back(fd);
      if (chosen == 0) chosen = PortOf(fd);
    }
    if (portTaken) {
      for (int open : listeners_) posix::Close(open);
      listeners_.clear();
      continue;
    }
    if (listeners_.empty())
      throw SystemError("cannot listen on " + where, error);
    port_ = chosen;
    return;
  }
  throw FeederError("cannot find a free port that every address of " + where + " can use");
}

void SocketServer::Impl::Event(const std::string& text) const {
  if (options_.onEvent) options_.onEvent(text);
}

ServeStats SocketServer::Impl::Serve() {
  for (;;) {
    if (options_.cancel && *options_.cancel) {
      stats_.cancelled = true;
      AbortAll();
      return stats_;
    }
    if (!servedAny_ && source_.BrokeBeforeAnyCase()) return stats_;
    std::int64_t now = posix::NowMs();
    if (connections_.empty() && servedAny_ && !options_.forever &&
        now - idleSinceMs_ >= options_.lingerMs)
      return stats_;
    std::vector<pollfd> fds;
    for (int fd : listeners_) fds.push_back(pollfd{fd, POLLIN, 0});
    bool anyWaiting = false;
    bool anyBreaking = false;
    for (auto& connection : connections_) {
      anyBreaking = anyBreaking || connection->phase == Connection::Phase::kBreaking;
      short events = POLLIN;
      if (connection->phase == Connection::Phase::kSending) {
        // One that has sent every case so far waits on the source instead.
        const bool waiting = connection->batch.Waiting();
        anyWaiting = anyWaiting || waiting;
        if (!waiting) events |= POLLOUT;
      }
      fds.push_back(pollfd{connection->fd, events, 0});
    }
    const std::size_t polled = connections_.size();
    if (anyWaiting) fds.push_back(pollfd{source_.ChangeFd(), POLLIN, 0});
    posix::Poll(fds.data(), fds.size(), anyBreaking ? kBreakPollMs : kMaxWaitMs);
    const bool moreCases = anyWaiting && (fds.back().revents & POLLIN);
    if (moreCases) source_.TakeChange();
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[i].revents & POLLIN) AcceptAll(listeners_[i]);
    }
    // Connections accepted just now are served on the next round.
    for (std::size_t i = 0; i < polled; ++i) {
      short revents = fds[listeners_.size() + i].revents;
      if (moreCases) revents |= POLLOUT;
      Service(*connections_[i], revents);
    }
    bool hadAny = !connections_.empty();
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const std::unique_ptr<Connection>& c) { return c->closed; }),
                       connections_.end());
    if (hadAny && connections_.empty()) idleSinceMs_ = posix::NowMs();
  }
}

void SocketServer::Impl::AcceptAll(int listenFd) {
  for (;;) {
    posix::Result accepted = posix::Accept(listenFd);
    if (!accepted.ok()) return;  // EAGAIN, or a connection that died at once
    const int fd = static_cast<int>(accepted.value);
    // A live case must not wait for more bytes to fill a segment.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connections_.push_back(std::make_unique<Connection>(fd, order_, source_));
    Connection& connection = *connections_.back();
    if (!servedAny_) {
      servedAny_ = true;
      Event("reader connected");
      Start(connection, 0, true);
    }
  }
}

void SocketServer::Impl::Service(Connection& connection, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadControl(connection);
  if (connection.closed) return;
  if (connection.phase == Connection::Phase::kSending && (revents & POLLOUT)) SendSome(connection);
  if (connection.phase == Connection::Phase::kBreaking) {
    posix::Result unacknowledged = posix::UnacknowledgedBytes(connection.fd);
    if (!unacknowledged.ok() || unacknowledged.value == 0 ||
        posix::NowMs() - connection.breakingSinceMs >= kBreakWaitMs) {
      posix::AbortConnection(connection.fd);
      connection.closed = true;
      Event("pass broken off: the source broke");
    }
    return;
  }
  if (connection.phase == Connection::Phase::kAwaitControl &&
      posix::NowMs() - connection.acceptedMs >= kNewReaderAfterMs && connection.control.Empty()) {
    Event("a silent connection: serving it as a new reader");
    Start(connection, 0, true);
  }
}

void SocketServer::Impl::ReadControl(Connection& connection) {
  char bytes[256];
  posix::Result got = posix::Read(connection.fd, bytes, sizeof bytes);
  if (got.error == EAGAIN) return;
  if (got.value <= 0) return Drop(connection, "reader closed the connection");
  connection.control.Feed(bytes, static_cast<std::size_t>(got.value));
  ControlMessage message;
  while (!connection.closed && connection.control.Next(message)) {
    bool awaiting = connection.phase == Connection::Phase::kAwaitControl;
    if (message.kind == ControlMessage::kRewind && awaiting) {
      ++stats_.rewinds;
      Event("rewind");
      Start(connection, 0, false);
    } else if (message.kind == ControlMessage::kSeek && awaiting) {
      ++stats_.seeks;
      Event("seek to case " + std::to_string(message.caseNumber));
      Start(connection, message.caseNumber, false);
    } else if (message.kind == ControlMessage::kStop && !awaiting) {
      ++stats_.stops;
      if (connection.phase == Connection::Phase::kSending) Finish(connection, "stop");
    } else if (awaiting) {
      Drop(connection, "a connection began with an unknown control word");
    }
  }
}

void SocketServer::Impl::Start(Connection& connection, std::int64_t firstCase, bool withProbe) {
  std::string probe;
  if (withProbe) {
    std::array<char, 4> bytes = ProbeBytes(order_);
    probe.assign(bytes.begin(), bytes.end());
  }
  connection.batch.Restart(firstCase, probe);
  connection.phase = Connection::Phase::kSending;
  ++stats_.passes;
  SendSome(connection);
}

void SocketServer::Impl::SendSome(Connection& connection) {
  // At most about one batch per round: a reader that keeps up would
  // otherwise keep us here, deaf to its "STOP" and to other readers.
  std::size_t budget = SendBatch::kTargetBytes;
  while (!connection.batch.Finished()) {
    if (budget == 0 || connection.batch.Waiting()) return;
    std::size_t size = std::min(connection.batch.Size(), budget);
    posix::Result sent = posix::SendNoSignal(connection.fd, connection.batch.Data(), size);
    if (sent.error == EAGAIN) return;
    if (!sent.ok()) return Drop(connection, "reader went away");
    connection.batch.Consume(static_cast<std::size_t>(sent.value));
    budget -= static_cast<std::size_t>(sent.value);
  }
  if (source_.Broken()) return BreakOff(connection);
  Finish(connection, "pass complete");
}

void SocketServer::Impl::BreakOff(Connection& connection) {
  connection.phase = Connection::Phase::kBreaking;
  connection.breakingSinceMs = posix::NowMs();
}

void SocketServer::Impl::AbortAll() {
  // A pass that had ended keeps its orderly end.
  for (auto& connection : connections_) {
    if (connection->closed) continue;
    if (connection->phase == Connection::Phase::kFinished)
      posix::Close(connection->fd);
    else
      posix::AbortConnection(connection->fd);
  }
  connections_.clear();
}

void SocketServer::Impl::Finish(Connection& connection, const char* why) {
  // Shutting only the sending side lets the reader see the end while its
  // "STOP" (or its closing) can still reach us.
  shutdown(connection.fd, SHUT_WR);
  connection.phase = Connection::Phase::kFinished;
  Event(why);
}

void SocketServer::Impl::Drop(Connection& connection, const char* why) {
  posix::Close(connection.fd);
  connection.closed = true;
  Event(why);
}

SocketServer::SocketServer(CaseSource& source, ByteOrder order, int port,
                           const std::string& bindAddress, ServeOptions options)
    : impl_(std::make_unique<Impl>(source, order, port, bindAddress, std::move(options))) {}

SocketServer::~SocketServer() = default;

int SocketServer::Port() const { return impl_->Port(); }

ServeStats SocketServer::Serve() { return impl_->Serve(); }

}  // namespace feed
}  // namespace drav
