#include "dravfeed/ByteOrder.h"

#include <algorithm>
#include <cstring>

#include "base/WireFormat.h"

namespace drav {
namespace feed {
namespace {

// How the played feeder sees 8 bytes: as they come on a native feeder,
// reversed on one of the other order.
std::int64_t ReadInOwnOrder(const char* bytes, ByteOrder order) {
  char copy[8];
  std::memcpy(copy, bytes, sizeof copy);
  if (order == ByteOrder::kSwapped) Reverse8(copy);
  std::int64_t value;
  std::memcpy(&value, copy, sizeof value);
  return value;
}

}  // namespace

void Reverse8(char* p) { std::reverse(p, p + 8); }

std::array<char, 4> ProbeBytes(ByteOrder order) {
  std::array<char, 4> bytes;
  std::int32_t probe = wire::kProbeValue;
  std::memcpy(bytes.data(), &probe, bytes.size());
  if (order == ByteOrder::kSwapped) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::int64_t SeekCaseFromWire(const char* bytes, ByteOrder order) {
  std::int64_t own = ReadInOwnOrder(bytes, order);
  if (order == ByteOrder::kNative) return own;
  // The number came in the reader's order, which is not ours: turn it back.
  char back[8];
  std::memcpy(back, &own, sizeof back);
  Reverse8(back);
  std::int64_t value;
  std::memcpy(&value, back, sizeof value);
  return value;
}

}  // namespace feed
}  // namespace drav
