#pragma once
// A feeder that behaves: the feeder library's own PipeServer or SocketServer serving the test's records from a thread
// until the feeder is destroyed. It answers "RWND" and "SEEK" as every feeder built on the library does, and keeps
// the control messages as it understood them ("rewind", "seek to case N"), so a test sees what the reader asked for.
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "dravfeed/CaseSource.h"
#include "dravfeed/PipeServer.h"
#include "dravfeed/SocketServer.h"
#include "tests/support/TempDir.h"

namespace drav::test {

class TestFeeder {
 public:
  // Serves `records` (numbers in `order`) through "data.pipe" in `dir`,
  // which must outlive the feeder, with "rewind.pipe" beside it when asked.
  static std::unique_ptr<TestFeeder> OverPipe(const TempDir& dir, bool withRewindPipe,
                                              const std::vector<std::string>& records,
                                              feed::ByteOrder order = feed::ByteOrder::kNative) {
    std::unique_ptr<TestFeeder> f(new TestFeeder(records));
    f->streamName_ = dir.File("data.pipe");
    if (withRewindPipe) f->rewindName_ = dir.File("rewind.pipe");
    // Made here, so that the FIFOs stand before the test's reader comes.
    f->Start(std::make_shared<feed::PipeServer>(*f->cases_, order, f->streamName_, f->rewindName_, f->Options()));
    return f;
  }
  static std::unique_ptr<TestFeeder> OverSocket(const std::vector<std::string>& records,
                                                feed::ByteOrder order = feed::ByteOrder::kNative) {
    std::unique_ptr<TestFeeder> f(new TestFeeder(records));
    auto server = std::make_shared<feed::SocketServer>(*f->cases_, order, 0, "127.0.0.1", f->Options());
    f->streamName_ = "inet:127.0.0.1:" + std::to_string(server->Port());
    f->Start(server);
    return f;
  }
  ~TestFeeder() {
    cancel_ = 1;
    if (thread_.joinable()) thread_.join();
  }

  // The data pipe's path or "inet:127.0.0.1:PORT"; the rewind pipe's path.
  const std::string& StreamName() const { return streamName_; }
  const std::string& RewindName() const { return rewindName_; }
  // The control messages heard so far, "; "-separated.
  std::string Heard() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_;
  }

 private:
  explicit TestFeeder(const std::vector<std::string>& records)
      : cases_(new feed::MemoryCases(records.empty() ? 8 : records[0].size())) {
    for (const std::string& record : records) std::memcpy(cases_->AddRecord(), record.data(), record.size());
  }
  feed::ServeOptions Options() {
    feed::ServeOptions options;
    options.cancel = &cancel_;
    options.forever = true;
    options.onEvent = [this](const std::string& event) {
      if (event != "rewind" && event.rfind("seek to case ", 0) != 0) return;  // not a control message
      std::lock_guard<std::mutex> lock(mutex_);
      heard_ += (heard_.empty() ? "" : "; ") + event;
    };
    return options;
  }
  template <typename Server>
  void Start(std::shared_ptr<Server> server) {
    thread_ = std::thread([server] {
      try {
        server->Serve();
      } catch (const std::exception&) {
        // The reader's test fails on what it did not get.
      }
    });
  }

  std::unique_ptr<feed::MemoryCases> cases_;
  std::string streamName_, rewindName_;
  volatile std::sig_atomic_t cancel_ = 0;
  mutable std::mutex mutex_;
  std::string heard_;
  std::thread thread_;
};

}  // namespace drav::test
