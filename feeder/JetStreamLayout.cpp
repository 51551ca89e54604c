#include "feeder/JetStreamLayout.h"

#include <cstdint>

#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace jetstream {

StreamAddress StreamAddress::Parse(const std::string& url) {
  const std::string scheme = "nats://";
  const std::string refused = "\"" + url + "\" is no stream address: ";
  if (url.compare(0, scheme.size(), scheme) != 0)
    throw InputError(refused + "write nats://HOST:PORT/STREAM");
  const std::size_t slash = url.find('/', scheme.size());
  if (slash == std::string::npos || slash == scheme.size())
    throw InputError(refused + "write nats://HOST:PORT/STREAM");
  StreamAddress address;
  address.server = url.substr(0, slash);
  address.stream = url.substr(slash + 1);
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
