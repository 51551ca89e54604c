#pragma once
// Small feeders inside the test process, for end-to-end tests of dravrun
// that must not depend on dravfeed: a named-pipe writer and a one-connection
// TCP server, each on its own thread with a deadline so that a reader that
// never comes fails the test instead of hanging it.
#include <string>
#include <thread>
#include <vector>

#include "host/WireFormat.h"

namespace dravtest {

// Builds case records by the shared layout: numbers as doubles in this
// machine's byte order (or reversed, as a feeder of the other order sends
// them), strings padded with blanks.
class RecordBuilder {
 public:
  // `stringWidths`: one entry per variable, 0 for a numeric one.
  RecordBuilder(const std::vector<int>& stringWidths, bool swapped);
  // One value per variable: numbers in `numbers`, strings in `strings`
  // (each list read in the variables' order, skipping the other kind).
  void AddCase(const std::vector<double>& numbers, const std::vector<std::string>& strings);
  const std::string& Bytes() const { return bytes_; }

 private:
  drav::wire::CaseLayout layout_;
  bool swapped_;
  std::string bytes_;
};

// Writes `bytes` into a named pipe it creates at `path`, once a reader has
// opened it; removes the pipe when destroyed if it is still there.
class PipeFeeder {
 public:
  PipeFeeder(std::string path, std::string bytes);
  ~PipeFeeder();
  // True when a reader opened the pipe and every byte was written.
  bool Join();

 private:
  std::string path_;
  std::string bytes_;
  bool delivered_ = false;
  std::thread thread_;
};

// Serves one connection on 127.0.0.1 (any free port): the byte-order probe
// (reversed when `swapped`), then `bytes`, then it waits for "STOP" or the end
// of the connection and closes the listening socket, so that a later
// connection is refused.
class SocketFeeder {
 public:
  SocketFeeder(std::string bytes, bool swapped);
  ~SocketFeeder();
  int Port() const { return port_; }
  // What the reader sent on the connection ("STOP" at the end of a pass).
  std::string Join();

 private:
  int listenFd_ = -1;
  int port_ = 0;
  std::string bytes_;
  bool swapped_;
  std::string received_;
  std::thread thread_;
};

// A loopback port on which nobody listens: bound (so no one else takes it)
// but never listening, so connections to it are refused.
class DeafPort {
 public:
  DeafPort();
  ~DeafPort();
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace dravtest
