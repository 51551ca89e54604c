#pragma once
// Where dravfeed's cases come from: a JetStream stream, cases generated on
// demand, or a case log that a live feed (CSV input, paced cases) fills
// while it is served, optionally copied into a capture.
#include <atomic>
#include <memory>

#include "dravfeed/CaptureFile.h"
#include "dravfeed/CaseLog.h"
#include "dravfeed/RecordBuilder.h"
#include "tools/dravfeed/FeedOptions.h"
#include "tools/dravfeed/LiveFeed.h"

namespace dravfeed {

class FeedCases {
 public:
  // Opens the source the options name (throws the feeder's errors). Borrows
  // `builder`, which must outlive this object.
  FeedCases(const FeedOptions& options, const drav::feed::RecordBuilder& builder);
  FeedCases(const FeedCases&) = delete;
  FeedCases& operator=(const FeedCases&) = delete;

  drav::feed::CaseSource& Source() const { return fixed_ ? *fixed_ : *log_; }
  bool Live() const { return log_ != nullptr; }
  // Stops a live feed and gives the status its input deserves: refused data
  // (1), a failed input (3), else 0; a JetStream pass that ended at a break
  // in the stream is a failure too.
  int Finish();

 private:
  void OpenStream(const FeedOptions& options, const drav::feed::RecordBuilder& builder);

  std::atomic<bool> streamBroke_{false};
  std::unique_ptr<drav::feed::CaseSource> fixed_;
  std::unique_ptr<drav::feed::CaptureWriter> capture_;
  std::unique_ptr<drav::feed::CaseLog> log_;
  std::unique_ptr<LiveFeed> feed_;  // declared last: stops first
};

}  // namespace dravfeed
