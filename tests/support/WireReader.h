#pragma once
// A reader written straight from the wire protocol (docs/PROTOCOL.md), not the plug-in, for testing feeders: it opens
// passes over a named pipe pair or loopback TCP, asks for rewinds and seeks, and reads the records. Every wait ends
// after kIoTimeoutMs with an exception, so a silent feeder fails the test instead of hanging it.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "base/WireFormat.h"
#include "dravfeed/GeneratedCases.h"
#include "tests/support/Loopback.h"

namespace drav::test {

constexpr int kIoTimeoutMs = 15000;

// "SEEK" and the case number in this host's byte order.
inline std::string SeekMessage(std::int64_t caseNumber) {
  return std::string(wire::kSeek, wire::kControlWordBytes) +
         std::string(reinterpret_cast<const char*>(&caseNumber), sizeof caseNumber);
}

// The probe a feeder of `order` sends first on a connection.
inline std::string Probe(feed::ByteOrder order) {
  std::string bytes(reinterpret_cast<const char*>(&wire::kProbeValue), wire::kProbeBytes);
  if (order == feed::ByteOrder::kSwapped) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

// The records dravfeed --generate serves for cases first .. first + count - 1 of `variables` (its rule is
// GeneratedCases'), numbers in `order`.
inline std::string GeneratedRecords(const std::string& variables, std::int64_t first, std::int64_t count,
                                    feed::ByteOrder order = feed::ByteOrder::kNative) {
  const feed::VariableList list = feed::VariableList::Parse(variables);
  const feed::RecordBuilder builder(list, order);  // keeps a reference to the list
  std::string records(static_cast<std::size_t>(count) * list.RecordBytes(), '\0');
  feed::GeneratedCases(builder, first + count).Render(first, count, &records[0]);
  return records;
}

class WireReader {
 public:
  // A reader of the data pipe at `data` that sends its messages through the named pipe at `rewind`.
  WireReader(std::string data, std::string rewind) : data_(std::move(data)), rewind_(std::move(rewind)) {}
  // A reader of a feeder listening on 127.0.0.1 (or ::1) at `port`.
  explicit WireReader(int port, bool ipv6 = false) : port_(port), ipv6_(ipv6) {}
  ~WireReader() { Close(false, false); }
  WireReader(const WireReader&) = delete;
  WireReader& operator=(const WireReader&) = delete;

  // The first pass: opens the data pipe, or connects and returns the probe.
  std::string Begin() {
    Close(true, false);
    fd_ = port_ == 0 ? OpenData() : ConnectTo(port_, ipv6_);
    return port_ == 0 ? "" : Read(wire::kProbeBytes);
  }
  void Connect() {  // without waiting for anything: a later connection (TCP only)
    Close(true, false);
    fd_ = ConnectTo(port_, ipv6_);
  }
  // A later pass, asked for with "RWND" or "SEEK" n. The pass before stays open until the new one has begun, as a
  // reader that moves on mid-pass does; over TCP it is ended with "STOP" first.
  void Rewind() { Ask(wire::kRewind); }
  void Seek(std::int64_t caseNumber) { Ask(SeekMessage(caseNumber)); }
  // Later messages over the rewind pipe go one byte at a time, each read by
  // the feeder before the next is written, so every read it makes is short.
  void WriteControlBytewise() { bytewise_ = true; }
  std::string Read(std::size_t bytes) {  // fewer only at the end of the data
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
  std::string ReadToEnd() { return Read(SIZE_MAX); }
  bool EndedByReset() const { return reset_; }  // the last read met a reset (TCP), not an orderly end
  void Send(const std::string& bytes) {  // raw bytes on the connection (sockets only)
    if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error(std::string("cannot send: ") + std::strerror(errno));
  }
  void End() { Close(true, false); }  // a socket reader says "STOP" and closes
  // Goes away mid-pass without a word; a socket closes with a reset, as a crashed reader's does.
  void Abandon() { Close(false, true); }

 private:
  void Ask(const std::string& message) {
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
    const int fd = OpenData();
    Close(false, false);
    fd_ = fd;
  }
  int OpenData() const {  // blocks until the feeder opens its end
    const int fd = open(data_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + data_ + ": " + std::strerror(errno));
    return fd;
  }
  void Close(bool stop, bool reset) {
    if (fd_ < 0) return;
    if (port_ != 0 && stop) send(fd_, wire::kStop, wire::kControlWordBytes, MSG_NOSIGNAL);
    if (port_ != 0 && reset) {
      const linger hardClose{1, 0};
      setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
    }
    close(fd_);
    fd_ = -1;
  }
  static void AwaitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&p, 1, kIoTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready != 1) throw std::runtime_error("the feeder went silent");
  }
  // Writes `message` into the FIFO `fd`, one byte at a time when `bytewise`,
  // each only once the pipe is empty again (the reader has taken the byte).
  static bool WriteControl(int fd, const std::string& message, bool bytewise) {
    if (!bytewise) return write(fd, message.data(), message.size()) == static_cast<ssize_t>(message.size());
    for (char byte : message) {
      if (write(fd, &byte, 1) != 1) return false;
      for (int unread = 1, waited = 0; unread > 0; usleep(1000))
        if (ioctl(fd, FIONREAD, &unread) != 0 || ++waited > kIoTimeoutMs) return false;
    }
    return true;
  }
  static int ConnectTo(int port, bool ipv6) {
    sockaddr_storage address;
    const socklen_t length = LoopbackAddress(ipv6 ? AF_INET6 : AF_INET, port, address);
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      if (fd >= 0) close(fd);
      throw std::runtime_error(std::string("cannot connect: ") + std::strerror(errno));
    }
    return fd;
  }

  std::string data_, rewind_;
  int port_ = 0;
  bool ipv6_ = false;
  bool bytewise_ = false;
  bool reset_ = false;
  int fd_ = -1;
};

}  // namespace drav::test
