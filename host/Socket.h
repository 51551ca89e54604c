#pragma once
// A TCP client connection over POSIX sockets.
//
// Addresses are "inet:HOST:PORT": the port follows the last colon, an IPv6
// literal may stand in brackets ("inet:[::1]:5000"). Connect tries every
// address getaddrinfo returns, each within a deadline, enables TCP
// keepalive, and makes the descriptor close-on-exec. Nothing here ever
// raises SIGPIPE (sends use MSG_NOSIGNAL).
//
// Receives are served from a receive buffer that large recv calls fill, so
// a stream of small records costs one system call per buffer, not one per
// record. The buffer belongs to the connection: Connect starts it empty and
// Clear drops whatever it still holds.
//
// A socket remembers how its data ended, so that a host can tell a feeder
// that finished from one that broke off: an orderly end between two
// requests (the plug-in asks for one record a request), an orderly end in
// the middle of a request (a cut record), or a reset.
#include <cstddef>
#include <memory>
#include <string>

#include "host/VUString.h"

class Socket {
 public:
  // Option bits of the constructor's argument.
  enum Options : unsigned long {
    kKeepAlive = 1,  // TCP keepalive on the connection
    kNoDelay = 2,    // disable Nagle's algorithm (control words go out at once)
  };
  static constexpr int kConnectTimeoutMs = 10000;
  // Size of the receive buffer. A request at least this large that finds
  // the buffer empty is received straight into the caller's buffer.
  static constexpr std::size_t kReceiveBufferBytes = 256 * 1024;

  // How the connection's data ended, as the last Receive found it.
  enum class End {
    kNone,           // no Receive has met the end since Connect
    kOrderly,        // the peer closed its side between two requests
    kInsideRequest,  // the peer closed its side with a request half-filled
    kReset,          // the connection was reset or failed
  };

  explicit Socket(unsigned long options);
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // 0 when connected; otherwise an error code (also kept for LastError):
  // -1 malformed address, -2 name lookup failed, -3 no address accepted the
  // connection within the deadline. Drops any earlier connection first.
  int Connect(const VUString& address);
  // Receives exactly `length` bytes into `buffer` unless the connection ends
  // or fails first. Returns the number of bytes received (== length on
  // success, fewer at the end of the data), or -1 when not connected or an
  // error came before any byte; retries on EINTR. Bytes that arrived beyond
  // the request wait in the receive buffer for the next call. `buffer` must
  // be writable: the const is the plug-in's calling convention.
  long Receive(const char* buffer, unsigned long length);
  // Sends all `length` bytes; returns the number sent (-1 on an error
  // before anything was sent).
  int Send(const char* buffer, unsigned long length);
  // Drops the connection and any bytes buffered from it; the socket can
  // connect again.
  void Clear();

  bool IsConnected() const { return fd_ >= 0; }
  // The connection's descriptor, for socket options. Reading from it
  // directly would skip the bytes the receive buffer already holds.
  int Descriptor() const { return fd_; }
  // A sentence describing the last failure of Connect, Receive or Send.
  const std::string& LastError() const { return lastError_; }
  End LastEnd() const { return end_; }
  // LastEnd of the socket of this process that connected or met an end
  // last: for a host that cannot reach the Socket a data source owns, and
  // runs one stream at a time.
  static End LastEndInProcess();

 private:
  // One recv into `into`, retried on EINTR: the byte count, 0 at the end of
  // the data, -1 on an error (both with LastError set).
  long ReceiveSome(char* into, std::size_t capacity);
  // Moves up to `length` buffered bytes to `out`; returns how many.
  std::size_t TakeBuffered(char* out, std::size_t length);
  void SetEnd(End end);

  unsigned long options_;
  int fd_ = -1;
  std::string lastError_;
  End end_ = End::kNone;
  bool peerReset_ = false;  // reset before Connect returned: the end is a reset
  // Allocated at the first receive that needs it, kept across connections.
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferBegin_ = 0;  // first byte not yet handed out
  std::size_t bufferEnd_ = 0;    // one past the last byte received
};
