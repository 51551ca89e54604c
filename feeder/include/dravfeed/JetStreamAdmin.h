#pragma once
// Making a stream for the case log and reading its state, for the tools that
// administer one without the broker's own command-line tool.
#include <cstdint>
#include <string>
#include <vector>

#include "dravfeed/Export.h"
#include "dravfeed/JetStreamSecurity.h"

namespace drav {
namespace feed {
namespace jetstream {

// Records in one message of the case log (see docs/SCALING.md): one case
// per message would cost the broker a message per case.
constexpr std::int64_t kCasesPerMessage = 512;

// How a stream made for the case log keeps its messages. The defaults keep
// every case on disk on one server.
struct StreamSettings {
  int replicas = 1;             // servers holding a copy; a publish is stored once a majority has it
  std::int64_t maxAgeSeconds = 0;  // drop messages older than this (0: never)
  std::int64_t maxBytes = 0;       // drop the oldest beyond this size (0: no limit)
  bool memory = false;          // keep the messages in memory instead of files
};

// What a stream holds now, and its limits.
struct StreamReport {
  std::string name, subject, variables, storage;
  std::uint64_t messages = 0, bytes = 0, firstSequence = 0, lastSequence = 0;
  std::int64_t firstCase = -1, lastCase = -1;  // -1 while the stream is empty
  int replicas = 1;
  std::string cluster, leader;
  std::vector<std::string> followers;  // "name (current)" or "name (behind by N, ...)"
  std::int64_t maxAgeSeconds = 0, maxBytes = 0, maxMessages = 0;  // 0: no limit
};

// Reads the report of the stream at `url`. Throws InputError for a bad
// address, FeederError when the server or the stream cannot be asked.
DRAV_FEED_API StreamReport ReadStreamReport(const std::string& url, const NatsSecurity& security, int waitMs);

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
