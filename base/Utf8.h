#pragma once
// UTF-8 decoding and character classes shared by the host's string and
// name services. Invalid bytes count as one-byte characters, so scanning
// always makes progress.
#include <cstddef>

namespace drav {
namespace utf8 {

// Length in bytes of the character starting at `p` (0 at the NUL). Never
// reaches past a NUL inside a truncated sequence.
std::size_t CharLength(const char* p);
// The code point of the character at `p`. An invalid byte b gives U+DC00 + b
// (a lone surrogate: no letter, no case, equal to no valid character).
unsigned int Decode(const char* p, std::size_t length);
// Encodes `codePoint`; returns its byte count (1 to 4). `out` holds 4 bytes.
std::size_t Encode(unsigned int codePoint, char* out);
bool IsLetter(unsigned int codePoint);
bool IsDigit(unsigned int codePoint);
unsigned int ToUpper(unsigned int codePoint);
// Compares at most `maxChars` characters of two texts by their upper case:
// -1, 0 or 1.
int CompareIgnoringCase(const char* a, const char* b, std::size_t maxChars);

}  // namespace utf8
}  // namespace drav
