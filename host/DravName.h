#pragma once
// The host's rule for variable names.

// Result codes of ValidateDRAVName.
enum DravNameCheck : int {
  kDravNameValid = 0,
  kDravNameEmpty = 1,
  kDravNameBadFirstCharacter = 2,
  kDravNameBadCharacter = 3,
  kDravNameEndsWithPeriod = 4,
  kDravNameReservedWord = 5,
  kDravNameTooLong = 6,
};

// 0 for an acceptable name: a UTF-8 letter first, then letters, digits, "_"
// and ".", not ending in "." and at most 64 bytes. 5 for a reserved word of
// the command language (AND OR NOT EQ NE LT LE GT GE TO, any case); another
// non-zero DravNameCheck value for every other refusal.
int ValidateDRAVName(const char* name);
