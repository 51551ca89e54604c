#include "base/Utf8.h"

#include <clocale>
#include <cwctype>
#include <initializer_list>
#include <locale.h>

namespace drav {
namespace utf8 {
namespace {

// Character classes come from the C.UTF-8 locale object, never from the
// process locale, so the host program's setlocale cannot change them.
locale_t Utf8Locale() {
  // Older C libraries lack C.UTF-8; any UTF-8 locale has the same classes.
  // "C" is the last resort, where only ASCII letters are letters.
  static locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "POSIX.UTF-8"}) {
      locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
      if (l != static_cast<locale_t>(0)) return l;
    }
    return newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Invalid bytes decode to U+DC80..U+DCFF (lone surrogates, as Python's
// "surrogateescape" does): no letter, no case, and never equal to a real
// character, so a stray Latin-1 byte 0xE9 is not taken for "é".
constexpr unsigned int kEscapeBase = 0xDC00;

// The allowed range of the second byte after `lead`: it rules out overlong
// forms, encoded surrogates and code points above U+10FFFF.
bool SecondByteAllowed(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return IsContinuation(second);
  }
}

}  // namespace

std::size_t CharLength(const char* p) {
  const unsigned char lead = static_cast<unsigned char>(*p);
  if (lead == 0) return 0;
  std::size_t expected = 1;
  if (lead >= 0xC2 && lead <= 0xDF) expected = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) expected = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) expected = 4;
  if (expected == 1) return 1;
  // Each byte is checked before the next is looked at, so a sequence cut
  // short by the NUL never reads past it.
  if (!SecondByteAllowed(lead, static_cast<unsigned char>(p[1]))) return 1;
  for (std::size_t i = 2; i < expected; ++i) {
    if (!IsContinuation(static_cast<unsigned char>(p[i]))) return 1;
  }
  return expected;
}

unsigned int Decode(const char* p, std::size_t length) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
  switch (length) {
    case 2: return ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
    case 3: return ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
    case 4:
      return ((s[0] & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
             (s[3] & 0x3Fu);
    default: return s[0] < 0x80 ? s[0] : kEscapeBase + s[0];
  }
}

std::size_t Encode(unsigned int cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

bool IsLetter(unsigned int cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
  return iswalpha_l(static_cast<wint_t>(cp), Utf8Locale()) != 0;
}

bool IsDigit(unsigned int cp) { return cp >= '0' && cp <= '9'; }

unsigned int ToUpper(unsigned int cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  return static_cast<unsigned int>(towupper_l(static_cast<wint_t>(cp), Utf8Locale()));
}

int CompareIgnoringCase(const char* a, const char* b, std::size_t maxChars) {
  for (std::size_t n = 0; n < maxChars; ++n) {
    const std::size_t la = CharLength(a), lb = CharLength(b);
    const unsigned int ca = la ? ToUpper(Decode(a, la)) : 0;
    const unsigned int cb = lb ? ToUpper(Decode(b, lb)) : 0;
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
    a += la;
    b += lb;
  }
  return 0;
}

}  // namespace utf8
}  // namespace drav
