#include "tools/dravrun/TextEscape.h"

#include <charconv>
#include <cstring>

#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8SequenceLength(const char* text, std::size_t size, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  unsigned minimum;
  unsigned codePoint;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) { length = 2; minimum = 0x80; codePoint = lead & 0x1F; }
  else if ((lead & 0xF0) == 0xE0) { length = 3; minimum = 0x800; codePoint = lead & 0x0F; }
  else if ((lead & 0xF8) == 0xF0) { length = 4; minimum = 0x10000; codePoint = lead & 0x07; }
  else return 0;
  if (i + length > size) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint < minimum || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

char* Copy(const char* text, std::size_t length, char* out) {
  std::memcpy(out, text, length);
  return out + length;
}

bool NeedsCsvQuotes(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

// Runs a pointer-writing rule on a std::string: grows it by the rule's
// room, then trims it to what was written.
template <typename Rule>
void AppendWith(std::string& out, std::size_t room, Rule rule) {
  const std::size_t start = out.size();
  out.resize(start + room);
  char* const end = rule(&out[start]);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

const char kHex[] = "0123456789abcdef";

}  // namespace

char* AppendCsvField(const char* text, std::size_t length, char* out) {
  if (!NeedsCsvQuotes(text, length)) return Copy(text, length, out);
  *out++ = '"';
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '"') *out++ = '"';
    *out++ = text[i];
  }
  *out++ = '"';
  return out;
}

char* AppendTsvField(const char* text, std::size_t length, char* out) {
  for (std::size_t i = 0; i < length; ++i) {
    switch (text[i]) {
      case '\\': *out++ = '\\'; *out++ = '\\'; break;
      case '\t': *out++ = '\\'; *out++ = 't'; break;
      case '\r': *out++ = '\\'; *out++ = 'r'; break;
      case '\n': *out++ = '\\'; *out++ = 'n'; break;
      default: *out++ = text[i];
    }
  }
  return out;
}

char* AppendJsonString(const char* text, std::size_t size, char* out) {
  *out++ = '"';
  for (std::size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8SequenceLength(text, size, i);
    if (length == 0) {
      out = Copy("\\ufffd", 6, out);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(c);
    } else if (c == '\n') {
      out = Copy("\\n", 2, out);
    } else if (c == '\t') {
      out = Copy("\\t", 2, out);
    } else if (c == '\r') {
      out = Copy("\\r", 2, out);
    } else if (c < 0x20 || c == 0x7F) {
      out = Copy("\\u00", 4, out);
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 0xF];
    } else {
      out = Copy(text + i, length, out);
    }
    i += length;
  }
  *out++ = '"';
  return out;
}

char* AppendJsonNumber(double value, bool scientific, int decimals, char* out) {
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  if (value == 0) value = 0.0;  // no "-0"
  if (!scientific) return detail::Fixed(value, decimals, out);
  char* const end = std::to_chars(out, out + kMaxJsonNumber, value, std::chars_format::scientific, decimals).ptr;
  char* letter = end - 1;  // %E writes the exponent's letter in upper case
  while (*letter != 'e') --letter;
  *letter = 'E';
  return end;
}

char* AppendMarkdownCell(const char* text, std::size_t length, char* out) {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '|') *out++ = '\\';
    *out++ = c == '\r' || c == '\n' ? ' ' : c;
  }
  return out;
}

void AppendCsvField(const std::string& text, std::string& out) {
  AppendWith(out, 2 * text.size() + 2, [&](char* at) { return AppendCsvField(text.data(), text.size(), at); });
}

void AppendTsvField(const std::string& text, std::string& out) {
  AppendWith(out, 2 * text.size(), [&](char* at) { return AppendTsvField(text.data(), text.size(), at); });
}

void AppendJsonString(const std::string& text, std::string& out) {
  AppendWith(out, 6 * text.size() + 2, [&](char* at) { return AppendJsonString(text.data(), text.size(), at); });
}

void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out) {
  AppendWith(out, kMaxJsonNumber, [&](char* at) { return AppendJsonNumber(value, scientific, decimals, at); });
}

}  // namespace dravrun
