#pragma once
// The NATS connection and JetStream context that the case source and the
// publisher share, with the client's status codes turned into sentences in
// one place. Internal to the feeder library (it includes the NATS client's
// header, so it is not installed).
#include <nats/nats.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "feeder/JetStreamLayout.h"

namespace drav {
namespace feed {
namespace jetstream {

struct MessageDeleter {
  void operator()(natsMsg* message) const { natsMsg_Destroy(message); }
};
using Message = std::unique_ptr<natsMsg, MessageDeleter>;

// What the stream holds now.
struct StreamState {
  std::uint64_t firstSequence = 0;  // 0 while the stream is empty
  std::uint64_t lastSequence = 0;
  std::string subject;              // its first subject, where producers publish
};

class Client {
 public:
  // Connects to address.server; every request waits at most `waitMs`. The
  // connection reconnects by itself when the server comes back. Throws
  // FeederError when the server cannot be reached.
  Client(const StreamAddress& address, int waitMs);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  natsConnection* Connection() const { return connection_; }
  jsCtx* Context() const { return context_; }
  const StreamAddress& Address() const { return address_; }
  int WaitMs() const { return waitMs_; }

  // Fills `state`; false with `problem` set when the stream cannot be asked.
  bool Describe(StreamState& state, std::string& problem) const;
  // The message at `sequence`: null with `missing` true when the stream has
  // none there (deleted), null with `problem` set when the server failed.
  Message Get(std::uint64_t sequence, bool& missing, std::string& problem) const;
  // Makes the stream (file storage, one subject) unless it exists.
  // Throws FeederError.
  void Create() const;

 private:
  bool StreamExists() const;

  StreamAddress address_;
  int waitMs_;
  natsOptions* options_ = nullptr;
  natsConnection* connection_ = nullptr;
  jsCtx* context_ = nullptr;
  // The stream answers direct gets (seen by Describe; the streams dravfeed
  // makes do), which a seek's probes use.
  mutable std::atomic<bool> direct_{false};
};

// "what: the client's reason", for a failed call.
std::string Problem(const std::string& what, natsStatus status, jsErrCode code = static_cast<jsErrCode>(0));
// A header as a whole number; false when it is missing or no number.
bool HeaderNumber(natsMsg* message, const char* key, std::int64_t& value);
// A header's text, owned by the message; "" when it is missing.
const char* HeaderText(natsMsg* message, const char* key);

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
