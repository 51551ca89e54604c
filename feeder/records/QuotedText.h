#pragma once
// Input text quoted in a message. A field may be megabytes long and hold any
// byte: a message shows at most kQuotedBytes of it, cut at a character
// boundary, with control bytes and bytes that are not UTF-8 escaped (a NUL
// would end the message, a line end or an escape sequence would garble the
// user's terminal).
#include <cstddef>
#include <string>
#include <string_view>

namespace drav {
namespace feed {

constexpr std::size_t kQuotedBytes = 60;

// "abc", "tab\there", "\x00", or for a long text its start and its size:
// "aaaa..." (10485760 bytes).
std::string Quoted(std::string_view text);

}  // namespace feed
}  // namespace drav
