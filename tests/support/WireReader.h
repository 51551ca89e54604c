#pragma once
// A reader written straight from the wire protocol (docs/PROTOCOL.md), not
// the plug-in, for testing feeders: it opens passes over a named pipe pair
// or loopback TCP, asks for rewinds and seeks, and reads the records. Every
// wait ends after kIoTimeoutMs with an exception, so a silent feeder fails
// the test instead of hanging it.
#include <cstdint>
#include <string>
#include <utility>

#include "dravfeed/ByteOrder.h"

namespace drav {
namespace test {

constexpr int kIoTimeoutMs = 15000;

// "SEEK" and the case number in this host's byte order.
std::string SeekMessage(std::int64_t caseNumber);
// The probe a feeder of `order` sends first on a connection.
std::string Probe(feed::ByteOrder order);
// The records dravfeed --generate serves for cases first .. first + count - 1
// of `variables` (its rule is GeneratedCases'), numbers in `order`.
std::string GeneratedRecords(const std::string& variables, std::int64_t first, std::int64_t count,
                             feed::ByteOrder order = feed::ByteOrder::kNative);

class WireReader {
 public:
  // A reader of the data pipe at `data` that sends its messages through
  // the named pipe at `rewind`.
  WireReader(std::string data, std::string rewind) : data_(std::move(data)), rewind_(std::move(rewind)) {}
  // A reader of a feeder listening on 127.0.0.1 (or ::1) at `port`.
  explicit WireReader(int port, bool ipv6 = false) : port_(port), ipv6_(ipv6) {}
  ~WireReader() { Close(false, false); }
  WireReader(const WireReader&) = delete;
  WireReader& operator=(const WireReader&) = delete;

  // The first pass: opens the data pipe, or connects and returns the probe.
  std::string Begin();
  // Connects without waiting for anything: a later connection (TCP only).
  void Connect();
  // A later pass, asked for with "RWND" or "SEEK" n. The pass before stays
  // open until the new one has begun, as a reader that moves on mid-pass
  // does; over TCP it is ended with "STOP" first.
  void Rewind();
  void Seek(std::int64_t caseNumber);
  // Later messages over the rewind pipe go one byte at a time, each read by
  // the feeder before the next is written, so every read it makes is short.
  void WriteControlBytewise() { bytewise_ = true; }
  // Reads `bytes` bytes (fewer only at the end of the data).
  std::string Read(std::size_t bytes);
  std::string ReadToEnd();
  // The last read ended with a reset (TCP), not an orderly end.
  bool EndedByReset() const { return reset_; }
  // Sends raw bytes on the connection (sockets only).
  void Send(const std::string& bytes);
  // Ends the pass: a socket reader says "STOP" and closes.
  void End();
  // Goes away mid-pass without a word; a socket closes with a reset, as a
  // crashed reader's does.
  void Abandon();

 private:
  void Ask(const std::string& message);
  void Close(bool stop, bool reset);

  std::string data_, rewind_;
  int port_ = 0;
  bool ipv6_ = false;
  bool bytewise_ = false;
  bool reset_ = false;
  int fd_ = -1;
};

}  // namespace test
}  // namespace drav
