#pragma once
// A feeder that behaves: the feeder library's own PipeServer or SocketServer
// serving the test's records from a thread until the feeder is destroyed.
// It answers "RWND" and "SEEK" as every feeder built on the library does,
// and keeps the control messages as it understood them ("rewind", "seek to
// case N"), so a test sees what the reader asked for.
#include <csignal>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace test {

class TestFeeder {
 public:
  // Serves `records` (numbers in `order`) through "data.pipe" in `dir`,
  // which must outlive the feeder, with "rewind.pipe" beside it when asked.
  static std::unique_ptr<TestFeeder> OverPipe(const TempDir& dir, bool withRewindPipe,
                                              const std::vector<std::string>& records,
                                              feed::ByteOrder order = feed::ByteOrder::kNative);
  // Serves them over TCP on 127.0.0.1, port 0.
  static std::unique_ptr<TestFeeder> OverSocket(const std::vector<std::string>& records,
                                                feed::ByteOrder order = feed::ByteOrder::kNative);
  ~TestFeeder();
  TestFeeder(const TestFeeder&) = delete;
  TestFeeder& operator=(const TestFeeder&) = delete;

  // The data pipe's path or "inet:127.0.0.1:PORT"; the rewind pipe's path.
  const std::string& StreamName() const { return streamName_; }
  const std::string& RewindName() const { return rewindName_; }
  // The control messages heard so far, "; "-separated.
  std::string Heard() const;

 private:
  explicit TestFeeder(const std::vector<std::string>& records);
  template <typename Server>
  void Start(std::shared_ptr<Server> server);
  void Hear(const std::string& event);

  std::unique_ptr<feed::MemoryCases> cases_;
  std::string streamName_, rewindName_;
  volatile std::sig_atomic_t cancel_ = 0;
  mutable std::mutex mutex_;
  std::string heard_;
  std::thread thread_;
};

}  // namespace test
}  // namespace drav
