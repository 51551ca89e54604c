#pragma once
// Appends cases to a NATS JetStream stream as the case log (see
// docs/SCALING.md): whole messages of about kCasesPerMessage records,
// each published on the condition that the stream's last message is still
// the one this producer saw (a window of them in flight, each expecting the
// one before). When another producer came first, the publisher reads the
// new end and numbers its batches after it, so any number of producers
// append whole batches with no case number twice and no hole.
#include <csignal>
#include <cstdint>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamSecurity.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace feed {

struct PublishOptions {
  // Make the stream (subject "drav.STREAM", as `stream` says) unless it exists.
  bool create = false;
  jetstream::StreamSettings stream;
  jetstream::NatsSecurity security;
  std::int64_t casesPerMessage = jetstream::kCasesPerMessage;
  // How long any answer from the server may take.
  int waitMs = 5000;
  // Set (from a signal handler, say) to stop sending; batches already in
  // flight may still be stored, and are not counted in the result.
  const volatile std::sig_atomic_t* cancel = nullptr;
};

struct PublishResult {
  std::int64_t cases = 0;       // cases appended
  std::int64_t messages = 0;    // messages they took
  std::int64_t firstCase = -1;  // the stream's number of the first of them
  std::int64_t lastCase = -1;   // and of the last
  std::int64_t retries = 0;     // batches renumbered after another producer's
  bool cancelled = false;
};

// Publishes every case of `cases` to the stream at `url` (waiting for more
// while the source may grow) in the records' own byte order `order`.
// When the server goes away, the client moves to another of the cluster (or
// waits for it to return), asks the stream which of the batches in flight it
// stored, and sends the others again. Throws InputError when the stream holds
// another variable list, FeederError when the server, the stream or a
// publish fails for good: what was published before stays in the stream, and
// the message says how many of the source's first cases the stream
// acknowledged, so a user knows where to resume.
DRAV_FEED_API PublishResult PublishCases(const std::string& url, CaseSource& cases,
                           const VariableList& list, ByteOrder order,
                           const PublishOptions& options);

}  // namespace feed
}  // namespace drav
