#pragma once
// A reader written straight from the wire protocol (docs/PROTOCOL.md), not the plug-in, for testing feeders: it opens
// passes over a named pipe pair or loopback TCP, asks for rewinds and seeks, and reads the records. Every wait ends
// after kIoTimeoutMs with an exception, so a silent feeder fails the test instead of hanging it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "base/WireFormat.h"
#include "dravfeed/ByteOrder.h"
#include "dravfeed/GeneratedCases.h"

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
  std::string Begin();
  void Connect();  // without waiting for anything: a later connection (TCP only)
  // A later pass, asked for with "RWND" or "SEEK" n. The pass before stays open until the new one has begun, as a
  // reader that moves on mid-pass does; over TCP it is ended with "STOP" first.
  void Rewind() { Ask(wire::kRewind); }
  void Seek(std::int64_t caseNumber) { Ask(SeekMessage(caseNumber)); }
  // Later messages over the rewind pipe go one byte at a time, each read by
  // the feeder before the next is written, so every read it makes is short.
  void WriteControlBytewise() { bytewise_ = true; }
  std::string Read(std::size_t bytes);  // fewer only at the end of the data
  std::string ReadToEnd() { return Read(SIZE_MAX); }
  bool EndedByReset() const { return reset_; }  // the last read met a reset (TCP), not an orderly end
  void Send(const std::string& bytes);          // raw bytes on the connection (sockets only)
  void End() { Close(true, false); }            // a socket reader says "STOP" and closes
  // Goes away mid-pass without a word; a socket closes with a reset, as a crashed reader's does.
  void Abandon() { Close(false, true); }

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

}  // namespace drav::test
