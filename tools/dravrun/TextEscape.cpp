#include "tools/dravrun/TextEscape.h"

#include <charconv>
#include <cstring>

#include "tools/dravrun/Utf8Text.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

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

// The letter TSV escapes a byte with (\t for a tab), or 0.
char TsvEscapeLetter(char c) {
  switch (c) {
    case '\\': return '\\';
    case '\t': return 't';
    case '\r': return 'r';
    case '\n': return 'n';
    default: return 0;
  }
}

// C0 controls, DEL and the C1 controls (U+0080 to U+009F): a terminal acts
// on them instead of showing them.
bool IsControl(char32_t codePoint) { return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F); }

// A byte as \xHH.
char* HexEscape(unsigned char byte, char* out) {
  *out++ = '\\';
  *out++ = 'x';
  *out++ = kHex[byte >> 4];
  *out++ = kHex[byte & 0xF];
  return out;
}

// One character of a cell for people to read, written at `out`; returns
// the end. Backslash, tab, CR and LF get TSV's escapes; the bytes of any
// other control character, and bytes that are not UTF-8, are written as
// \xHH, so nothing in the cell can move the cursor or end the row.
// `columns` is set to the display columns of what was written, `length`
// to the bytes of `text` consumed.
char* AppendVisibleCharacter(const char* text, std::size_t size, std::size_t i, std::size_t& length,
                             std::size_t& columns, char* out) {
  const char c = text[i];
  if (c >= 0x20 && c < 0x7F && c != '\\') {  // printable ASCII, the common case
    length = columns = 1;
    *out = c;
    return out + 1;
  }
  char32_t codePoint = 0;
  length = DecodeUtf8(text, size, i, codePoint);
  if (length == 0) {
    length = 1;
    columns = 4;
    return HexEscape(static_cast<unsigned char>(text[i]), out);
  }
  if (const char letter = TsvEscapeLetter(text[i])) {
    columns = 2;
    *out++ = '\\';
    *out++ = letter;
    return out;
  }
  if (IsControl(codePoint)) {
    columns = 4 * length;
    for (std::size_t k = 0; k < length; ++k) out = HexEscape(static_cast<unsigned char>(text[i + k]), out);
    return out;
  }
  columns = CodePointColumns(codePoint);
  return Copy(text + i, length, out);
}

const char kEllipsis[] = "\xE2\x80\xA6";  // "…", one column

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
    if (const char letter = TsvEscapeLetter(text[i])) {
      *out++ = '\\';
      *out++ = letter;
    } else {
      *out++ = text[i];
    }
  }
  return out;
}

char* AppendJsonString(const char* text, std::size_t size, char* out) {
  *out++ = '"';
  for (std::size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, size, i, codePoint);
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

// One pass: each character is written in its visible form, and the end of
// the longest beginning that leaves a column for the ellipsis is kept, so
// that a cut needs no second look at the text.
TableCell AppendTableCell(const char* text, std::size_t size, std::size_t maxColumns, char* out) {
  char* cutAt = out;
  std::size_t columns = 0, columnsAtCut = 0;
  for (std::size_t i = 0; i < size;) {
    std::size_t length = 0, characterColumns = 0;
    out = AppendVisibleCharacter(text, size, i, length, characterColumns, out);
    i += length;
    columns += characterColumns;
    if (columns < maxColumns) {
      cutAt = out;
      columnsAtCut = columns;
    } else if (columns > maxColumns) {
      return TableCell{Copy(kEllipsis, sizeof kEllipsis - 1, cutAt), columnsAtCut + 1};
    }
  }
  return TableCell{out, columns};
}

char* AppendMarkdownCell(const char* text, std::size_t size, char* out) {
  for (std::size_t i = 0; i < size;) {
    if (text[i] == '|') {
      *out++ = '\\';
      *out++ = text[i++];
      continue;
    }
    std::size_t length = 0, columns = 0;
    out = AppendVisibleCharacter(text, size, i, length, columns, out);
    i += length;
  }
  return out;
}

void AppendJsonString(const std::string& text, std::string& out) {
  AppendWith(out, 6 * text.size() + 2, [&](char* at) { return AppendJsonString(text.data(), text.size(), at); });
}

void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out) {
  AppendWith(out, kMaxJsonNumber, [&](char* at) { return AppendJsonNumber(value, scientific, decimals, at); });
}

}  // namespace dravrun
