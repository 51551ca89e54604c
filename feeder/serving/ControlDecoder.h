#pragma once
// Turns the bytes a reader sends back ("RWND", "SEEK" and its case number,
// "STOP") into messages, however the bytes are split across reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dravfeed/ByteOrder.h"

namespace drav {
namespace feed {

struct ControlMessage {
  enum Kind { kRewind, kSeek, kStop, kUnknown };
  Kind kind = kUnknown;
  std::int64_t caseNumber = 0;  // kSeek: the case asked for
  std::string word;             // the 4 bytes as they came
};

class ControlDecoder {
 public:
  explicit ControlDecoder(ByteOrder order) : order_(order) {}

  void Feed(const char* data, std::size_t size) { pending_.append(data, size); }
  // The next whole message; false while it is incomplete. An unknown word
  // comes out as kUnknown with its 4 bytes dropped.
  bool Next(ControlMessage& message);
  bool Empty() const { return pending_.empty(); }
  void Reset() { pending_.clear(); }

 private:
  ByteOrder order_;
  std::string pending_;
};

}  // namespace feed
}  // namespace drav
