#include "feeder/records/QuotedText.h"

#include <cstdio>

#include "base/Utf8.h"

namespace drav {
namespace feed {
namespace {

// The UTF-8 character at the start of `text` (which may lack a NUL), or 0
// when it is not a whole, valid one.
std::size_t ValidCharLength(std::string_view text) {
  char copy[5] = {};
  text.copy(copy, 4);
  const std::size_t length = utf8::CharLength(copy);
  if (length <= 1 || length > text.size()) return 0;
  // An invalid byte decodes to U+DC00 + byte, a lone surrogate.
  const unsigned int code = utf8::Decode(copy, length);
  return code >= 0xD800 && code <= 0xDFFF ? 0 : length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    default: break;
  }
  if (byte >= 0x20 && byte < 0x7F) {
    out += static_cast<char>(byte);
    return;
  }
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

}  // namespace

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  std::size_t used = 0;
  while (used < text.size()) {
    const std::size_t length = ValidCharLength(text.substr(used));
    if (used + (length == 0 ? 1 : length) > kQuotedBytes) break;
    if (length == 0) {
      AppendEscaped(out, static_cast<unsigned char>(text[used++]));
    } else {
      out.append(text, used, length);
      used += length;
    }
  }
  out += '"';
  if (used < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

}  // namespace feed
}  // namespace drav
