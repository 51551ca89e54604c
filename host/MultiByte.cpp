#include "host/MultiByte.h"

#include <cstring>

#include "base/Utf8.h"

namespace {

using drav::utf8::CharLength;
using drav::utf8::CompareIgnoringCase;
using drav::utf8::Decode;
using drav::utf8::ToUpper;

// True when the character of `length` bytes at `c` is one of `set`'s characters.
bool InSet(const char* c, std::size_t length, const char* set) {
  for (const char* s = set; *s != '\0';) {
    std::size_t setLength = CharLength(s);
    if (setLength == length && std::memcmp(s, c, length) == 0) return true;
    s += setLength;
  }
  return false;
}

int Sign(long long difference) { return difference < 0 ? -1 : (difference > 0 ? 1 : 0); }

}  // namespace

int DRAVMBstrcmp_A(const char* a, const char* b) { return Sign(std::strcmp(a, b)); }

int DRAVMBstricmp_A(const char* a, const char* b) {
  return CompareIgnoringCase(a, b, static_cast<std::size_t>(-1));
}

int DRAVMBstrnicmp_A(const char* a, const char* b, size_t count) {
  return CompareIgnoringCase(a, b, count);
}

int DRAVMBstrnbcmp_A(const char* a, const char* b, size_t count) {
  return Sign(std::strncmp(a, b, count));
}

char* DRAVMBstrcpy_A(char* dst, const char* src) {
  std::memmove(dst, src, std::strlen(src) + 1);
  return dst;
}

char* DRAVMBstrncpy_A(char* dst, const char* src, size_t count) {
  std::size_t length = strnlen(src, count);
  std::memmove(dst, src, length);
  if (length < count) dst[length] = '\0';
  return dst;
}

size_t DRAVMBstrcspn_A(const char* text, const char* set) {
  const char* p = text;
  while (*p != '\0') {
    std::size_t length = CharLength(p);
    if (InSet(p, length, set)) break;
    p += length;
  }
  return static_cast<size_t>(p - text);
}

size_t DRAVMBstrspn_A(const char* text, const char* set) {
  const char* p = text;
  while (*p != '\0') {
    std::size_t length = CharLength(p);
    if (!InSet(p, length, set)) break;
    p += length;
  }
  return static_cast<size_t>(p - text);
}

char* DRAVMBstrinc_A(const char* position) {
  return const_cast<char*>(position + CharLength(position));
}

char* DRAVMBstrrchr_A(const char* text, int c) {
  // As strrchr: the terminating NUL itself can be searched for.
  if (c == 0) return const_cast<char*>(text + std::strlen(text));
  const char* found = nullptr;
  for (const char* p = text; *p != '\0';) {
    std::size_t length = CharLength(p);
    if (length == 1 && static_cast<unsigned char>(*p) == static_cast<unsigned int>(c)) found = p;
    p += length;
  }
  return const_cast<char*>(found);
}

char* DRAVMBstrupr_A(char* text) {
  for (char* p = text; *p != '\0';) {
    std::size_t length = CharLength(p);
    unsigned int upper = ToUpper(Decode(p, length));
    char encoded[4];
    // Only same-length replacements: callers rely on the length not changing.
    if (drav::utf8::Encode(upper, encoded) == length) std::memcpy(p, encoded, length);
    p += length;
  }
  return text;
}
