#pragma once
// Which byte order the feeder sends in. A feeder on this machine normally
// sends in its own order; kSwapped makes it act as a feeder of the other
// order: the probe and every numeric value go out byte-reversed, so readers
// can be tested against a foreign feeder without one at hand.
#include <array>
#include <cstdint>

#include "dravfeed/Export.h"

namespace drav {
namespace feed {

enum class ByteOrder { kNative, kSwapped };

// Reverses the 8 bytes at `p` in place.
DRAV_FEED_API void Reverse8(char* p);
// The 4 bytes of the byte-order probe as this feeder sends them.
DRAV_FEED_API std::array<char, 4> ProbeBytes(ByteOrder order);
// The case number of a "SEEK" message, from the 8 bytes that follow the word.
// The reader always sends it in its own byte order, never reversed. A feeder
// of the other order therefore reads the bytes in its own order and reverses
// the value back; a kSwapped feeder, which only plays the other order on this
// machine, ends up reading the bytes as they come.
DRAV_FEED_API std::int64_t SeekCaseFromWire(const char* bytes, ByteOrder order);

}  // namespace feed
}  // namespace drav
