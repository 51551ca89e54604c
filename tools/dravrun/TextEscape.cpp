#include "tools/dravrun/TextEscape.h"

#include <cstdio>

namespace dravrun {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  unsigned minimum;
  unsigned codePoint;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) { length = 2; minimum = 0x80; codePoint = lead & 0x1F; }
  else if ((lead & 0xF0) == 0xE0) { length = 3; minimum = 0x800; codePoint = lead & 0x0F; }
  else if ((lead & 0xF8) == 0xF0) { length = 4; minimum = 0x10000; codePoint = lead & 0x07; }
  else return 0;
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint < minimum || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

void AppendCsvField(const std::string& text, std::string& out) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendTsvField(const std::string& text, std::string& out) {
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
}

void AppendJsonString(const std::string& text, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  out += '"';
}

void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out) {
  char buffer[400];  // any double in fixed notation with up to 40 decimals
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  std::snprintf(buffer, sizeof buffer, scientific ? "%.*E" : "%.*f", decimals, value == 0 ? 0.0 : value);
  out += buffer;
}

}  // namespace dravrun
