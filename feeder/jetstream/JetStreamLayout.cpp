#include "feeder/jetstream/JetStreamLayout.h"

#include <cstdint>

#include "dravfeed/FeederError.h"

namespace drav {
namespace feed {
namespace jetstream {

namespace {

const char kForm[] = "write nats://HOST:PORT/STREAM (or tls://, USER:PASSWORD@ or TOKEN@ before the "
                     "servers, several servers joined by commas)";

// Where the address's servers begin and the credentials before them end.
struct UrlParts {
  std::size_t schemeEnd = std::string::npos;  // after "://"
  std::size_t at = std::string::npos;         // the '@' ending the credentials, if any
  std::size_t slash = std::string::npos;      // the '/' before the stream
};

UrlParts Split(const std::string& url) {
  UrlParts parts;
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return parts;
  parts.schemeEnd = scheme + 3;
  // A password may hold '@' and '/': the credentials end at the last '@'.
  parts.at = url.rfind('@');
  if (parts.at != std::string::npos && parts.at < parts.schemeEnd) parts.at = std::string::npos;
  parts.slash = url.find('/', parts.at == std::string::npos ? parts.schemeEnd : parts.at);
  return parts;
}

}  // namespace

std::string RedactedUrl(const std::string& url) {
  const UrlParts parts = Split(url);
  if (parts.at == std::string::npos) return url;
  const std::string credentials = url.substr(parts.schemeEnd, parts.at - parts.schemeEnd);
  const std::size_t colon = credentials.find(':');
  const std::string shown = colon == std::string::npos ? "***" : credentials.substr(0, colon) + ":***";
  return url.substr(0, parts.schemeEnd) + shown + url.substr(parts.at);
}

std::string StreamAddress::Servers() const {
  std::string text;
  for (const std::string& server : servers) text += (text.empty() ? "" : ",") + server;
  return text;
}

StreamAddress StreamAddress::Parse(const std::string& url) {
  const std::string refused = "\"" + RedactedUrl(url) + "\" is no stream address: ";
  const UrlParts parts = Split(url);
  StreamAddress address;
  const std::string scheme = parts.schemeEnd == std::string::npos ? "" : url.substr(0, parts.schemeEnd);
  if (scheme != "nats://" && scheme != "tls://") throw InputError(refused + kForm);
  address.tls = scheme == "tls://";
  const std::size_t hostsStart = parts.at == std::string::npos ? parts.schemeEnd : parts.at + 1;
  if (parts.slash == std::string::npos || parts.slash == hostsStart) throw InputError(refused + kForm);
  if (parts.at != std::string::npos) {
    const std::string credentials = url.substr(parts.schemeEnd, parts.at - parts.schemeEnd);
    const std::size_t colon = credentials.find(':');
    if (colon == std::string::npos) {
      address.token = credentials;
    } else {
      address.user = credentials.substr(0, colon);
      address.password = credentials.substr(colon + 1);
    }
    if (credentials.empty() || (colon != std::string::npos && address.user.empty()))
      throw InputError(refused + "nothing names the user before ':'");
  }
  const std::string hosts = url.substr(hostsStart, parts.slash - hostsStart);
  for (std::size_t start = 0;;) {
    const std::size_t comma = hosts.find(',', start);
    const std::string host = hosts.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (host.empty()) throw InputError(refused + "a server between commas is empty");
    address.servers.push_back(scheme + host);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  address.stream = url.substr(parts.slash + 1);
  // The broker's own rule for stream names.
  if (address.stream.empty() ||
      address.stream.find_first_of(" \t.*>/\\") != std::string::npos)
    throw InputError(refused + "the stream name \"" + address.stream +
                     "\" must be one word without . * > / or blanks");
  return address;
}

std::string VariablesText(const VariableList& list) {
  std::string text;
  for (const FeedVariable& variable : list.Variables()) {
    if (!text.empty()) text += ' ';
    text += variable.name + ' ' + variable.format;
  }
  return text;
}

const char* ByteOrderName(ByteOrder order) {
  const std::uint16_t one = 1;
  const bool machineIsLittle = *reinterpret_cast<const unsigned char*>(&one) == 1;
  return machineIsLittle == (order == ByteOrder::kNative) ? "little" : "big";
}

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
