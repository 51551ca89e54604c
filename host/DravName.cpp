#include "host/DravName.h"

#include <cstring>

#include "host/MultiByte.h"
#include "base/Utf8.h"

namespace {

const char* const kReservedWords[] = {"AND", "OR", "NOT", "EQ", "NE", "LT",
                                      "LE",  "GE", "GT",  "TO"};
constexpr std::size_t kMaxNameBytes = 64;

bool IsReserved(const char* name) {
  for (const char* word : kReservedWords) {
    if (DRAVMBstricmp_A(name, word) == 0) return true;
  }
  return false;
}

}  // namespace

int ValidateDRAVName(const char* name) {
  using namespace drav::utf8;
  if (name == nullptr || *name == '\0') return kDravNameEmpty;
  if (IsReserved(name)) return kDravNameReservedWord;
  const std::size_t bytes = std::strlen(name);
  if (bytes > kMaxNameBytes) return kDravNameTooLong;
  std::size_t length = CharLength(name);
  if (!IsLetter(Decode(name, length))) return kDravNameBadFirstCharacter;
  for (const char* p = name + length; *p != '\0'; p += length) {
    length = CharLength(p);
    unsigned int c = Decode(p, length);
    if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '.') return kDravNameBadCharacter;
  }
  if (name[bytes - 1] == '.') return kDravNameEndsWithPeriod;
  return kDravNameValid;
}
