#include "tools/dravfeed/NatsOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace dravfeed {
namespace {

// Where a password for the address's user, or a token, is read from.
const char kPasswordVariable[] = "DRAV_NATS_PASSWORD";
const char kTokenVariable[] = "DRAV_NATS_TOKEN";

[[noreturn]] void Refuse(const std::string& message) { throw std::invalid_argument(message); }

// A whole number with an optional unit that multiplies it: "90", "15m", "2G".
std::int64_t Amount(const std::string& option, const std::string& text, const std::string& units,
                    const std::int64_t* factors, const std::string& form) {
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text.c_str(), &end, 10);
  std::int64_t factor = 1;
  if (*end != '\0' && end[1] == '\0' && units.find(*end) != std::string::npos)
    factor = factors[units.find(*end)];
  else if (*end != '\0')
    end = nullptr;
  if (text.empty() || !end || errno != 0 || number < 0 || number > (std::int64_t{1} << 62) / factor)
    Refuse(option + " takes " + form + ", not \"" + text + "\"");
  return number * factor;
}

// The options that only keep their text.
const struct {
  const char* name;
  std::string NatsOptions::*field;
} kTexts[] = {{"--info", &NatsOptions::infoUrl},      {"--nats-nkey", &NatsOptions::nkeyFile},
              {"--nats-creds", &NatsOptions::credsFile}, {"--nats-ca", &NatsOptions::caFile},
              {"--nats-cert", &NatsOptions::certFile},  {"--nats-key", &NatsOptions::keyFile}};

void HideCredentials(char* url) {
  char* scheme = std::strstr(url, "://");
  char* at = std::strrchr(url, '@');
  if (!scheme || !at || at < scheme) return;
  char* secret = scheme + 3;
  char* colon = static_cast<char*>(std::memchr(secret, ':', static_cast<std::size_t>(at - secret)));
  if (colon) secret = colon + 1;
  std::memset(secret, '*', static_cast<std::size_t>(at - secret));
}

}  // namespace

std::vector<drav::tools::OptionSpec> NatsOptionSpecs() {
  std::vector<drav::tools::OptionSpec> specs;
  for (const auto& text : kTexts) specs.push_back({text.name, drav::tools::OptionSpec::kValue});
  for (const char* name : {"--replicas", "--max-age", "--max-bytes", "--storage", "--start"})
    specs.push_back({name, drav::tools::OptionSpec::kValue});
  return specs;
}

bool ParseNatsOption(const std::string& option, const std::function<std::string()>& value,
                     NatsOptions& nats) {
  static const std::int64_t kSeconds[] = {1, 60, 3600, 86400};
  static const std::int64_t kBytes[] = {1 << 10, 1 << 20, 1 << 30, std::int64_t{1} << 40};
  for (const auto& text : kTexts) {
    if (option == text.name) {
      nats.*text.field = value();
      return true;
    }
  }
  if (option == "--replicas") {
    nats.replicas = static_cast<int>(Amount(option, value(), "", nullptr, "a number of servers from 1 to 5"));
    if (nats.replicas < 1 || nats.replicas > 5) Refuse("--replicas takes a number of servers from 1 to 5");
    nats.createSettings = true;
  } else if (option == "--max-age") {
    nats.maxAgeSeconds = Amount(option, value(), "smhd", kSeconds, "seconds, or a number with s, m, h or d");
    nats.createSettings = true;
  } else if (option == "--max-bytes") {
    nats.maxBytes = Amount(option, value(), "KMGT", kBytes, "bytes, or a number with K, M, G or T");
    nats.createSettings = true;
  } else if (option == "--storage") {
    const std::string storage = value();
    if (storage != "file" && storage != "memory") Refuse("--storage takes file or memory, not \"" + storage + "\"");
    nats.memory = storage == "memory";
    nats.createSettings = true;
  } else if (option == "--start") {
    const std::string start = value();
    nats.start = true;
    nats.startFromEnd = start == "end" || start.compare(0, 1, "-") == 0;
    const std::string number = start == "end" ? "0" : nats.startFromEnd ? start.substr(1) : start;
    nats.startCase = Amount(option, number, "", nullptr, "end, -N (the last N cases) or a case number");
  } else {
    return false;
  }
  return true;
}

void CheckNatsOptions(const NatsOptions& nats, bool from, bool publish, bool create) {
  if (nats.createSettings && !create) Refuse("--replicas, --max-age, --max-bytes and --storage go with --create");
  if (nats.start && !from) Refuse("--start goes with --from");
  const bool security = !nats.nkeyFile.empty() || !nats.credsFile.empty() || !nats.caFile.empty() ||
                        !nats.certFile.empty() || !nats.keyFile.empty();
  if (security && !from && !publish && nats.infoUrl.empty())
    Refuse("--nats-nkey, --nats-creds, --nats-ca, --nats-cert and --nats-key go with --from, --publish or --info");
  if (nats.certFile.empty() != nats.keyFile.empty()) Refuse("--nats-cert and --nats-key go together");
  if (!nats.nkeyFile.empty() && !nats.credsFile.empty()) Refuse("give one of --nats-nkey or --nats-creds");
}

void TakeNatsSecrets(NatsOptions& nats, int argc, char** argv) {
  if (const char* password = std::getenv(kPasswordVariable)) nats.password = password;
  if (const char* token = std::getenv(kTokenVariable)) nats.token = token;
  for (int i = 1; i < argc; ++i) {
    // An address is an argument of its own, or follows "--from=" and the like.
    char* url = argv[i];
    char* equals = std::strncmp(url, "--", 2) == 0 ? std::strchr(url, '=') : nullptr;
    if (equals) url = equals + 1;
    if (std::strncmp(url, "nats://", 7) == 0 || std::strncmp(url, "tls://", 6) == 0) HideCredentials(url);
  }
}

drav::feed::jetstream::NatsSecurity SecurityOf(const NatsOptions& nats) {
  drav::feed::jetstream::NatsSecurity security;
  security.password = nats.password;
  security.token = nats.token;
  security.nkeySeedFile = nats.nkeyFile;
  security.credentialsFile = nats.credsFile;
  security.caFile = nats.caFile;
  security.certFile = nats.certFile;
  security.keyFile = nats.keyFile;
  return security;
}

drav::feed::jetstream::StreamSettings SettingsOf(const NatsOptions& nats) {
  drav::feed::jetstream::StreamSettings settings;
  settings.replicas = nats.replicas;
  settings.maxAgeSeconds = nats.maxAgeSeconds;
  settings.maxBytes = nats.maxBytes;
  settings.memory = nats.memory;
  return settings;
}

std::string ReportText(const drav::feed::jetstream::StreamReport& report) {
  auto limit = [](std::int64_t value, const char* unit) {
    return value == 0 ? std::string("none") : std::to_string(value) + unit;
  };
  auto caseNumber = [](std::int64_t value) { return value < 0 ? std::string("none") : std::to_string(value); };
  std::string text = "stream: " + report.name + "\nsubject: " + report.subject + "\nvariables: " +
                     report.variables + "\ncases: " +
                     std::to_string(report.lastCase < 0 ? 0 : report.lastCase - report.firstCase + 1) +
                     "\nfirst case: " + caseNumber(report.firstCase) + "\nlast case: " + caseNumber(report.lastCase) +
                     "\nmessages: " + std::to_string(report.messages) + " (sequences " +
                     std::to_string(report.firstSequence) + " to " + std::to_string(report.lastSequence) +
                     ")\nbytes: " + std::to_string(report.bytes) + "\nstorage: " + report.storage +
                     "\nreplicas: " + std::to_string(report.replicas) + "\n";
  if (!report.cluster.empty() || !report.leader.empty()) {
    text += "cluster: " + report.cluster + "\nleader: " + report.leader + "\n";
    for (const std::string& follower : report.followers) text += "follower: " + follower + "\n";
  }
  return text + "max age: " + limit(report.maxAgeSeconds, " s") + "\nmax bytes: " +
         limit(report.maxBytes, "") + "\nmax messages: " + limit(report.maxMessages, "") + "\n";
}

}  // namespace dravfeed
