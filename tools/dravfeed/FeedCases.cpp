#include "tools/dravfeed/FeedCases.h"

#include <malloc.h>

#include "dravfeed/GeneratedCases.h"
#include "tools/dravfeed/Console.h"
#include "tools/dravfeed/FeedRunner.h"
#if DRAV_HAVE_JETSTREAM
#include "dravfeed/JetStreamCases.h"
#endif

namespace dravfeed {

FeedCases::FeedCases(const FeedOptions& options, const drav::feed::RecordBuilder& builder) {
  using namespace drav::feed;
  if (!options.fromUrl.empty()) {
    OpenStream(options, builder);
    return;
  }
  const bool live = !options.csvPath.empty() || options.rate > 0 || !options.capturePath.empty();
  if (!live) {
    fixed_ = std::make_unique<GeneratedCases>(builder, options.generateCount);
    return;
  }
  log_ = std::make_unique<CaseLog>(builder.List().RecordBytes(), options.memoryBytes);
  if (!options.capturePath.empty()) {
    capture_ = std::make_unique<CaptureWriter>(options.capturePath, options.variables, options.order);
    log_->CopyTo(capture_.get());
  }
  feed_ = std::make_unique<LiveFeed>(options, builder, *log_, Say);
}

void FeedCases::OpenStream(const FeedOptions& options, const drav::feed::RecordBuilder& builder) {
#if DRAV_HAVE_JETSTREAM
  using namespace drav::feed;
  // The NATS client's reader thread allocates every message of a replay
  // (tens of kilobytes) and the serving thread frees it: left to itself,
  // malloc hands that memory back to the system and faults it in again, a
  // fifth of the feeder's time.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  JetStreamReadOptions read;
  read.follow = options.follow;
  read.security = SecurityOf(options.nats);
  read.startCase = options.nats.startCase;
  read.startFromEnd = options.nats.startFromEnd;
  read.onProblem = [this](const std::string& problem) {
    streamBroke_ = true;
    Say(problem);
  };
  auto stream = std::make_unique<JetStreamCases>(options.fromUrl, builder.List(), options.order, read);
  if (stream->FirstServedCase() > 0)
    Say("case 0 of every pass is the stream's case " + std::to_string(stream->FirstServedCase()));
  fixed_ = std::move(stream);
#else
  // Without the NATS client the options refuse --from.
  (void)options;
  (void)builder;
#endif
}

int FeedCases::Finish() {
  if (!feed_) return streamBroke_ ? kFailed : kDone;
  feed_->Stop();
  return feed_->Refused() ? kRefused : feed_->Failed() ? kFailed : kDone;
}

}  // namespace dravfeed
