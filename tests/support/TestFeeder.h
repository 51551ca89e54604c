#pragma once
// A feeder that behaves: the feeder library's own PipeServer or SocketServer
// serving the test records from a thread of its own, until the test ends.
// It answers "RWND" and "SEEK" as any feeder built on the library does, and
// tells what it was asked ("rewind", "seek to case N", "stop"), so a test sees
// every control message as the feeder understood it.
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "feeder/ByteOrder.h"
#include "feeder/CaseSource.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace test {

class TestFeeder {
 public:
  // Serves `records` (whole test records, in the order the feeder writes
  // numbers) through "data.pipe" in `dir`, which must outlive the feeder,
  // with "rewind.pipe" beside it when asked.
  static std::unique_ptr<TestFeeder> OverPipe(const TempDir& dir, bool withRewindPipe,
                                              const std::vector<std::string>& records,
                                              feed::ByteOrder order = feed::ByteOrder::kNative);
  // Serves them over TCP on loopback, port 0.
  static std::unique_ptr<TestFeeder> OverSocket(const std::vector<std::string>& records,
                                                feed::ByteOrder order = feed::ByteOrder::kNative);
  ~TestFeeder();  // stops serving and waits for the thread
  TestFeeder(const TestFeeder&) = delete;
  TestFeeder& operator=(const TestFeeder&) = delete;

  // The stream name a reader uses: the data pipe's path or "inet:127.0.0.1:PORT".
  const std::string& StreamName() const { return streamName_; }
  const std::string& RewindName() const { return rewindName_; }
  // The control messages heard so far, "; "-separated in order.
  std::string Heard() const;
  // Waits (10 s at most) until `count` control messages have been heard.
  std::string AwaitHeard(std::size_t count) const;

 private:
  TestFeeder(const std::vector<std::string>& records);
  void Event(const std::string& text);

  std::unique_ptr<feed::MemoryCases> cases_;
  std::string streamName_, rewindName_;
  volatile std::sig_atomic_t cancel_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> heard_;
  std::thread thread_;
};

}  // namespace test
}  // namespace drav
