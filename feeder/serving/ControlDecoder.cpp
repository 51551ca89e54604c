#include "feeder/serving/ControlDecoder.h"

#include <cstring>

#include "base/WireFormat.h"

namespace drav {
namespace feed {

bool ControlDecoder::Next(ControlMessage& message) {
  if (pending_.size() < wire::kControlWordBytes) return false;
  message = ControlMessage();
  message.word = pending_.substr(0, wire::kControlWordBytes);
  std::size_t length = wire::kControlWordBytes;
  if (message.word == wire::kSeek) {
    if (pending_.size() < wire::kSeekMessageBytes) return false;
    message.kind = ControlMessage::kSeek;
    message.caseNumber = SeekCaseFromWire(pending_.data() + wire::kControlWordBytes, order_);
    length = wire::kSeekMessageBytes;
  } else if (message.word == wire::kRewind) {
    message.kind = ControlMessage::kRewind;
  } else if (message.word == wire::kStop) {
    message.kind = ControlMessage::kStop;
  }
  pending_.erase(0, length);
  return true;
}

}  // namespace feed
}  // namespace drav
