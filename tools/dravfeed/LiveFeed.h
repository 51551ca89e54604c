#pragma once
// The thread that fills dravfeed's case log while the server serves it: a
// CSV input read as it arrives, or generated cases at a steady rate.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "dravfeed/CaseLog.h"
#include "dravfeed/GeneratedCases.h"
#include "dravfeed/RecordBuilder.h"
#include "tools/dravfeed/FeedOptions.h"

namespace dravfeed {

class LiveFeed {
 public:
  using Say = std::function<void(const std::string&)>;

  // Opens the input (throws InputError when it cannot) and starts the
  // thread. Borrows the builder and the log, which must outlive it; `say`
  // is called from the thread with each message for the user.
  LiveFeed(const FeedOptions& options, const drav::feed::RecordBuilder& builder,
           drav::feed::CaseLog& log, Say say);
  ~LiveFeed() { Stop(); }
  // Stops the input (a producer that never ends must not keep us) and waits
  // for the thread; what it had read stays in the log.
  void Stop();
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // After the thread's end: the input held bad data / reading it failed.
  bool Refused() const { return refused_.load(); }
  bool Failed() const { return failed_.load(); }

 private:
  void ReadCsv();
  void Generate();
  void Run(void (LiveFeed::*body)());

  FeedOptions options_;
  const drav::feed::RecordBuilder& builder_;
  drav::feed::CaseLog& log_;
  Say say_;
  int fd_ = -1;
  std::unique_ptr<drav::feed::GeneratedCases> generated_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> refused_{false};
  std::atomic<bool> failed_{false};
  std::thread thread_;
};

}  // namespace dravfeed
