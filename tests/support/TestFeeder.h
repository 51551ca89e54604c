#pragma once
// A feeder for tests: serves prepared case records over a real named pipe
// or a real loopback TCP connection (port 0) from a thread of its own, and
// records every control message it receives ("RWND", "SEEK" n, "STOP").
//
// Pipe feeder: creates the data pipe (and the rewind pipe when asked) in a
// TempDir that must outlive it. It serves the first pass as soon as a
// reader opens the data pipe; afterwards it answers "RWND" (from case 0) and
// "SEEK" n (from case n) arriving on the rewind pipe, first discarding what
// the reader left unread in the data pipe. When a reader removes the data
// pipe at the end of a pass the feeder makes it anew.
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

struct ControlMessage {
  std::string word;            // "RWND", "SEEK", "STOP" or whatever 4 bytes came
  long long caseNumber = -1;   // the 8 bytes after "SEEK", as they lie in memory
};

struct FeederOptions {
  // How each pass's bytes are cut into writes.
  enum class Pieces { kWhole, kOneByte, kRandom };

  std::vector<std::string> records;
  Pieces pieces = Pieces::kWhole;
  unsigned seed = 1;
  // When >= 0, the first pass stops after this many bytes (for example in
  // the middle of a record) and ends the data there.
  long firstPassBytes = -1;
  // Pause between two pieces, so that a reader really waits in its reads.
  int pauseMicros = 0;
  // Socket only: the first bytes of the first connection.
  std::string probe = NativeProbe();
  // After the first pass the feeder closes everything and stops answering.
  bool vanishAfterFirstPass = false;

  // The probe of a feeder of this host's byte order, and of the other one.
  static std::string NativeProbe();
  static std::string SwappedProbe();
};

class TestFeeder {
 public:
  static std::unique_ptr<TestFeeder> OverPipe(const TempDir& dir, bool withRewindPipe,
                                              FeederOptions options);
  static std::unique_ptr<TestFeeder> OverSocket(FeederOptions options);
  ~TestFeeder();
  TestFeeder(const TestFeeder&) = delete;
  TestFeeder& operator=(const TestFeeder&) = delete;

  // The stream name a reader uses: the data pipe's path or "inet:127.0.0.1:PORT".
  const std::string& StreamName() const { return streamName_; }
  // The rewind pipe's path (empty when there is none).
  const std::string& RewindName() const { return rewindName_; }
  const std::string& DataPipePath() const { return dataPath_; }

  std::vector<ControlMessage> Messages() const;
  // Every control byte received, in order.
  std::string ControlBytes() const;
  // Blocks until at least `count` control messages have arrived.
  void WaitForMessages(std::size_t count) const;
  // Pipe: blocks until the data pipe exists again after a reader removed it.
  void WaitForDataPipe() const;
  // Blocks until `count` passes have been written whole and their data
  // channel closed (pipes) or shut for writing (sockets).
  void WaitForPassesServed(int count) const;
  // Blocks until the feeder's thread has finished (after vanishing).
  void WaitUntilGone();

 private:
  TestFeeder(FeederOptions options) : options_(std::move(options)) {}
  void RunPipe();
  void RunSocket();
  void ServePipe(std::size_t firstCase, bool firstPass);
  bool WriteAll(int fd, bool socket, std::size_t firstCase, bool firstPass);
  // Takes whole messages off the front of `pending`; returns them.
  std::vector<ControlMessage> TakeMessages(std::string& pending);
  void Record(const std::string& bytes, const std::vector<ControlMessage>& messages);
  void PassServed();
  bool Stopping() const { return stop_.load(); }

  FeederOptions options_;
  std::string streamName_, rewindName_, dataPath_;
  int listenFd_ = -1;
  int rewindFd_ = -1;  // the feeder thread's read end of the rewind pipe
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ControlMessage> messages_;
  std::string controlBytes_;
  int passesServed_ = 0;
  std::thread thread_;
};

// Builds records of a given case layout, in either byte order.
class RecordBuilder {
 public:
  // `stringWidths`: one entry per variable, 0 for numeric.
  explicit RecordBuilder(std::vector<int> stringWidths, bool swapped = false)
      : widths_(std::move(stringWidths)), swapped_(swapped) {}
  // One record: numbers for numeric variables (in order), texts for strings.
  std::string Make(const std::vector<double>& numbers, const std::vector<std::string>& texts) const;
  std::size_t RecordBytes() const;

 private:
  std::vector<int> widths_;
  bool swapped_;
};

}  // namespace test
}  // namespace drav
