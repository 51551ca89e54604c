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

#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamSecurity.h"
#include "feeder/jetstream/JetStreamLayout.h"

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
  // Connects to one of address.servers, proving who it is with what the
  // address and `security` hold; every request waits at most `waitMs`. The
  // connection moves to another server of the list (or of the cluster the
  // server announces) when its server goes away, and takes it up again when
  // it comes back. Throws FeederError when no server can be reached or one
  // refuses us, naming the cause and never a secret.
  Client(const StreamAddress& address, const NatsSecurity& security, int waitMs);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  natsConnection* Connection() const { return connection_; }
  jsCtx* Context() const { return context_; }
  const StreamAddress& Address() const { return address_; }
  int WaitMs() const { return waitMs_; }

  // The servers as messages name them, and the one connected now (all of
  // them while none is).
  std::string Servers() const { return address_.Servers(); }
  std::string ConnectedServer() const;
  // "what: the client's reason", and the server's own word when it refused
  // us something (a permission).
  std::string Problem(const std::string& what, natsStatus status,
                      jsErrCode code = static_cast<jsErrCode>(0)) const;

  // Fills `state`; false with `problem` set when the stream cannot be asked.
  bool Describe(StreamState& state, std::string& problem) const;
  // The message at `sequence`: null with `missing` true when the stream has
  // none there (deleted), null with `problem` set when the server failed.
  // A replica that is behind does not know the newest messages: only the
  // stream's leader says that one is missing.
  Message Get(std::uint64_t sequence, bool& missing, std::string& problem) const;
  // Makes the stream (one subject, direct gets) unless it exists.
  // Throws FeederError.
  void Create(const StreamSettings& settings) const;
  // The stream's configuration and state from its leader; throws FeederError.
  StreamReport Report() const;

 private:
  bool StreamExists() const;
  // The stream's info from its leader (destroy it); false with `problem`.
  bool Info(jsStreamInfo*& info, std::string& problem) const;

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
// The public key of the user NKey whose seed `seedFile` holds; throws
// FeederError when the file holds none.
std::string NKeyPublicKey(const std::string& seedFile);
// A header as a whole number; false when it is missing or no number.
bool HeaderNumber(natsMsg* message, const char* key, std::int64_t& value);
// A header's text, owned by the message; "" when it is missing.
const char* HeaderText(natsMsg* message, const char* key);

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
