#pragma once
// The host's rule for variable names, which every reader of a variable list
// shares (base/VariableName.h).
#include "base/VariableName.h"

// Result codes of ValidateDRAVName.
enum DravNameCheck : int {
  kDravNameValid = drav::name::kValid,
  kDravNameEmpty = drav::name::kEmpty,
  kDravNameBadFirstCharacter = drav::name::kBadFirstCharacter,
  kDravNameBadCharacter = drav::name::kBadCharacter,
  kDravNameEndsWithPeriod = drav::name::kEndsWithPeriod,
  kDravNameReservedWord = drav::name::kReservedWord,
  kDravNameTooLong = drav::name::kTooLong,
};

// 0 for an acceptable name: a UTF-8 letter first, then letters, digits, "_"
// and ".", not ending in "." and at most 64 bytes. 5 for a reserved word of
// the command language (AND OR NOT EQ NE LT LE GT GE TO, any case); another
// non-zero DravNameCheck value for every other refusal.
int ValidateDRAVName(const char* name);
