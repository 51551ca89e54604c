#include "tools/dravrun/ValueFormat.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "base/FormatRules.h"
#include "host/DravFormat.h"

namespace dravrun {
namespace {

// Widths and decimals outside what the command accepts are brought into a
// range the renderers can always honour.
PrintFormat Sane(const PrintFormat& format) {
  PrintFormat f = format;
  if (f.width < 1) f.width = 1;
  if (f.width > 255) f.width = 255;
  if (f.decimals < 0) f.decimals = 0;
  if (f.decimals > static_cast<int>(drav::format::kMaxDecimals)) f.decimals = drav::format::kMaxDecimals;
  return f;
}

char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

}  // namespace

bool IsStringFormat(int type) { return drav::format::IsStringCode(type); }

bool IsDateTimeFormat(int type) {
  const drav::format::Kind kind = drav::format::KindOfCode(type);
  return kind != drav::format::Kind::kNumber && kind != drav::format::Kind::kString;
}

char* RenderNumber(double value, const PrintFormat& format, char* out) {
  const PrintFormat f = Sane(format);
  if (std::isnan(value)) return out;
  if (std::isinf(value)) {
    const std::string_view name = value > 0 ? "Inf" : "-Inf";
    if (static_cast<int>(name.size()) > f.width) return detail::Asterisks(f.width, out);
    std::memcpy(out, name.data(), name.size());
    return out + name.size();
  }
  if (IsDateTimeFormat(f.type)) return detail::RenderDateTime(value, f, out);
  return detail::RenderPlainNumber(value == 0 ? 0.0 : value, f, out);  // no "-0"
}

void RenderNumber(double value, const PrintFormat& format, std::string& out) {
  char text[kMaxNumberText];
  out.assign(text, RenderNumber(value, format, text));
}

char* RenderString(const char* bytes, std::size_t length, const PrintFormat& format, char* out) {
  if (format.type == kFmtAHEX) {
    for (std::size_t i = 0; i < length; ++i) {
      const unsigned byte = static_cast<unsigned char>(bytes[i]);
      *out++ = HexDigit(byte >> 4);
      *out++ = HexDigit(byte);
    }
    return out;
  }
  // C feeders often pad with NULs rather than blanks: both count as padding.
  while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
  std::memcpy(out, bytes, length);
  return out + length;
}

void RenderString(const char* bytes, std::size_t length, const PrintFormat& format, std::string& out) {
  out.resize(2 * length);
  out.resize(static_cast<std::size_t>(RenderString(bytes, length, format, &out[0]) - out.data()));
}

std::string FormatName(const PrintFormat& format) {
  const char* keyword = drav::format::NameOfCode(format.type);
  std::string name = keyword != nullptr ? keyword : "FORMAT" + std::to_string(format.type) + ":";
  name += std::to_string(format.width);
  if (format.decimals > 0) name += "." + std::to_string(format.decimals);
  return name;
}

}  // namespace dravrun
