#pragma once
// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the checksum of the
// blocks of a capture file. Table-driven, one byte at a time: a capture is
// checked once when it is opened, at several hundred megabytes a second.
#include <cstddef>
#include <cstdint>

namespace drav {
namespace feed {

// The CRC of `size` bytes at `data`, continuing from `crc` (the CRC of the
// bytes before them; 0 to start). Crc32c("123456789") is 0xE3069283.
std::uint32_t Crc32c(const void* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace feed
}  // namespace drav
