#pragma once
// A feeder for tests: serves prepared case records over a real named pipe
// or a real loopback TCP connection (port 0) from a thread of its own, in
// random pieces of 1 to 13 bytes, and keeps every control byte it receives
// ("RWND", "SEEK" n, "STOP").
//
// Pipe feeder: creates "data.pipe" (and "rewind.pipe" when asked) in a
// TempDir that must outlive it. It serves the first pass as soon as a reader
// opens the data pipe; afterwards it answers "RWND" (from case 0) and "SEEK"
// n (from case n) arriving on the rewind pipe, first discarding what the
// reader left unread in the data pipe. The reader removes the data pipe at
// the end of its first pass; a test calls MakeDataPipeAgain before the next.
//
// Socket feeder: listens on 127.0.0.1, port 0. The first connection gets the
// probe and then the records; a later connection starts with "RWND" or
// "SEEK" n, which the feeder answers from that case on the same connection.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace drav {
namespace test {

// The probe of a feeder of this host's byte order, and of the other one.
std::string NativeProbe();
std::string SwappedProbe();

class TestFeeder {
 public:
  static std::unique_ptr<TestFeeder> OverPipe(const TempDir& dir, bool withRewindPipe,
                                              std::vector<std::string> records);
  static std::unique_ptr<TestFeeder> OverSocket(std::vector<std::string> records,
                                                std::string probe = NativeProbe());
  ~TestFeeder();
  TestFeeder(const TestFeeder&) = delete;
  TestFeeder& operator=(const TestFeeder&) = delete;

  // The stream name a reader uses: the data pipe's path or "inet:127.0.0.1:PORT".
  const std::string& StreamName() const { return streamName_; }
  // The rewind pipe's path (empty when there is none).
  const std::string& RewindName() const { return rewindName_; }

  // Pipe: makes the data pipe anew after the reader removed it, as a
  // rewinding feeder does before the reader's next pass.
  void MakeDataPipeAgain() const;

  // Every control byte received so far, in order.
  std::string ControlBytes() const;
  // Waits (10 s at most) until `count` control bytes have come; returns them.
  std::string AwaitControlBytes(std::size_t count) const;
  // Waits (10 s at most) until `count` passes have been written whole and
  // their data channel closed (pipes) or shut for writing (sockets).
  void WaitForPassesServed(int count) const;

 private:
  explicit TestFeeder(std::vector<std::string> records) : records_(std::move(records)) {}
  void RunPipe();
  void RunSocket();
  void ServePipe(std::size_t firstCase, bool laterPass);
  void ServeSocket(int conn, const std::string& head, std::size_t firstCase);
  int OpenDataPipeWhenReaderComes();
  // Writes `head`, then the records from `firstCase` on.
  bool Write(int fd, const std::string& head, std::size_t firstCase);
  // Takes whole messages off the front of `pending`; returns the first case
  // each RWND or SEEK asks for.
  std::vector<std::size_t> TakeRequests(std::string& pending);
  void Received(const std::string& bytes);
  void PassServed();

  std::vector<std::string> records_;
  std::string probe_;
  std::string streamName_, rewindName_;
  int listenFd_ = -1;
  int rewindFd_ = -1;  // the feeder thread's read end of the rewind pipe
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string controlBytes_;
  int passesServed_ = 0;
  std::thread thread_;
};

}  // namespace test
}  // namespace drav
