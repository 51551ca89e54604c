#pragma once
// Variable names: what a name may be, how long it is kept, and the upper-case
// form that tells two names apart. The host's name check and every reader of
// a variable list use these rules.
#include <cstddef>
#include <string>

namespace drav {
namespace name {

// Longer names are cut to their first 64 bytes, between characters.
constexpr std::size_t kMaxNameBytes = 64;
// A word of a variable list is read from its first 1023 bytes.
constexpr std::size_t kMaxWordBytes = 1023;

// Results of CheckName: 0 accepts; 5 is the refusal of a reserved word.
enum Check : int {
  kValid = 0,
  kEmpty = 1,
  kBadFirstCharacter = 2,
  kBadCharacter = 3,
  kEndsWithPeriod = 4,
  kReservedWord = 5,
  kTooLong = 6,
};

// A UTF-8 letter first, then letters, digits, "_" and ".", not ending in "."
// and at most 64 bytes; not a reserved word of the command language (AND OR
// NOT EQ NE LT LE GT GE TO, in any case).
Check CheckName(const char* name);

// The longest prefix of the `length` bytes at `text` that fits in `limit`
// bytes without splitting a UTF-8 character.
std::size_t CutAtCharBoundary(const char* text, std::size_t length, std::size_t limit);

// `name` with every character upper-cased whose upper case has the same
// length in bytes; two names are the same variable when these are equal.
std::string UpperCase(const std::string& name);

}  // namespace name
}  // namespace drav
