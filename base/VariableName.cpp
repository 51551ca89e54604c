#include "base/VariableName.h"

#include <cstring>

#include "base/Utf8.h"

namespace drav {
namespace name {
namespace {

const char* const kReservedWords[] = {"AND", "OR", "NOT", "EQ", "NE", "LT", "LE", "GE", "GT", "TO"};

// Compares character by character after upper-casing each, as the host's
// case-blind comparison does.
bool EqualIgnoringCase(const char* a, const char* b) {
  while (true) {
    const std::size_t la = utf8::CharLength(a), lb = utf8::CharLength(b);
    const unsigned int ca = la ? utf8::ToUpper(utf8::Decode(a, la)) : 0;
    const unsigned int cb = lb ? utf8::ToUpper(utf8::Decode(b, lb)) : 0;
    if (ca != cb) return false;
    if (ca == 0) return true;
    a += la;
    b += lb;
  }
}

bool IsReserved(const char* name) {
  for (const char* word : kReservedWords) {
    if (EqualIgnoringCase(name, word)) return true;
  }
  return false;
}

}  // namespace

Check CheckName(const char* name) {
  using namespace utf8;
  if (name == nullptr || *name == '\0') return kEmpty;
  if (IsReserved(name)) return kReservedWord;
  const std::size_t bytes = std::strlen(name);
  if (bytes > kMaxNameBytes) return kTooLong;
  std::size_t length = CharLength(name);
  if (!IsLetter(Decode(name, length))) return kBadFirstCharacter;
  for (const char* p = name + length; *p != '\0'; p += length) {
    length = CharLength(p);
    const unsigned int c = Decode(p, length);
    if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '.') return kBadCharacter;
  }
  if (name[bytes - 1] == '.') return kEndsWithPeriod;
  return kValid;
}

std::size_t CutAtCharBoundary(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  std::size_t cut = 0;
  while (true) {
    const std::size_t next = utf8::CharLength(text + cut);
    if (next == 0 || cut + next > limit) return cut;
    cut += next;
  }
}

std::string UpperCase(const std::string& name) {
  std::string upper = name;
  for (std::size_t at = 0; at < upper.size();) {
    const std::size_t length = utf8::CharLength(upper.c_str() + at);
    if (length == 0) break;
    char encoded[4];
    // Only same-length replacements, so that the name keeps its byte length.
    if (utf8::Encode(utf8::ToUpper(utf8::Decode(upper.c_str() + at, length)), encoded) == length)
      std::memcpy(&upper[at], encoded, length);
    at += length;
  }
  return upper;
}

}  // namespace name
}  // namespace drav
