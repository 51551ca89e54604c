#pragma once
// dravfeed's options for NATS JetStream streams: who we are to the servers,
// how --create makes a stream, --info, and where --from starts. Plain fields,
// so a dravfeed built without the NATS client still reads (and refuses) them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamSecurity.h"
#include "tools/common/OptionReader.h"

namespace dravfeed {

struct NatsOptions {
  std::string infoUrl;  // --info: print the stream's state
  std::string nkeyFile, credsFile, caFile, certFile, keyFile;
  // From the environment, never the command line.
  std::string password, token;
  int replicas = 1;
  std::int64_t maxAgeSeconds = 0, maxBytes = 0;
  bool memory = false;
  bool createSettings = false;  // one of --replicas, --max-age, --max-bytes, --storage was given
  std::int64_t startCase = 0;
  bool startFromEnd = false;
  bool start = false;  // --start was given
};

// The options below, for the command-line reader.
std::vector<drav::tools::OptionSpec> NatsOptionSpecs();
// Takes `option` when it is one of ours, reading its value with `value`;
// false when it is not. Throws std::invalid_argument naming the option.
bool ParseNatsOption(const std::string& option, const std::function<std::string()>& value,
                     NatsOptions& nats);
// Refuses what does not go together, given which of --from, --publish and
// --create the command line has.
void CheckNatsOptions(const NatsOptions& nats, bool from, bool publish, bool create);
// Reads the password and token from the environment, and hides a password
// or token written in a stream address among `argv`, so `ps` shows "***".
void TakeNatsSecrets(NatsOptions& nats, int argc, char** argv);

// What the library takes.
drav::feed::jetstream::NatsSecurity SecurityOf(const NatsOptions& nats);
drav::feed::jetstream::StreamSettings SettingsOf(const NatsOptions& nats);
// --info's text: one "name: value" line each.
std::string ReportText(const drav::feed::jetstream::StreamReport& report);

}  // namespace dravfeed
