#include "base/FormatRules.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace drav {
namespace format {
namespace {

constexpr Kind kNumber = Kind::kNumber;
constexpr Kind kDate = Kind::kDate;
constexpr Kind kTime = Kind::kTime;

// In the order keywords are matched.
constexpr Keyword kKeywords[] = {
    {"F", kCodeF, kNumber, true, 8, 2, 1, 1, true},
    {"A", kCodeA, Kind::kString, true, 255, 0, 1, 1, false},
    {"E", kCodeE, kNumber, true, 13, 5, 8, 7, true},
    {"N", 16, kNumber, true, 8, 0, 1, 1, false},
    {"PCT", 31, kNumber, true, 8, 2, 2, 2, true},
    {"COMMA", 3, kNumber, true, 8, 2, 1, 1, true},
    {"DOT", 32, kNumber, true, 8, 2, 1, 1, true},
    {"DOLLAR", 4, kNumber, true, 8, 2, 2, 2, true},
    {"DATE", 20, kDate, true, 11, 0, 9, 9, false},
    {"ADATE", 23, kDate, true, 10, 0, 8, 8, false},
    {"EDATE", 38, kDate, true, 10, 0, 8, 8, false},
    {"JDATE", 24, kDate, true, 7, 0, 5, 5, false},
    {"SDATE", 39, kDate, true, 10, 0, 8, 8, false},
    {"QYR", 29, kDate, true, 8, 0, 6, 6, false},
    {"MOYR", 28, kDate, true, 8, 0, 6, 6, false},
    {"WKYR", 30, kDate, true, 10, 0, 8, 8, false},
    {"DATETIME", kCodeDateTime, kDate, true, 23, 2, 17, 21, true},
    {"TIME", kCodeTime, kTime, true, 11, 2, 5, 9, true},
    {"DTIME", kCodeDTime, kTime, true, 15, 2, 9, 13, true},
    {"WKDAY", 26, Kind::kWeekday, true, 9, 0, 2, 2, false},
    {"MONTH", 27, Kind::kMonth, true, 9, 0, 3, 3, false},
    {"YMDHMS", 86, kDate, false, 0, 0, 12, 20, true},
    {"MTIME", 85, kTime, false, 0, 0, 5, 6, true},
    // Aliases of F.
    {"CCA", kCodeF, kNumber, true, 8, 2, 1, 1, true},
    {"CCB", kCodeF, kNumber, true, 8, 2, 1, 1, true},
    {"CCC", kCodeF, kNumber, true, 8, 2, 1, 1, true},
    {"CCD", kCodeF, kNumber, true, 8, 2, 1, 1, true},
    {"CCE", kCodeF, kNumber, true, 8, 2, 1, 1, true},
};

// Every code of a keyword is below this.
constexpr int kCodeLimit = 128;

// A width text is read through a buffer of 256 bytes: a longer one keeps its
// first 255 bytes, far beyond every limit unless they are all zeros.
constexpr std::size_t kWidthTextBytes = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of the leading digits of the `length` bytes at `text`, held at
// INT_MAX.
unsigned long ReadWidth(const char* text, std::size_t length) {
  if (length > kWidthTextBytes) length = kWidthTextBytes;
  unsigned long value = 0;
  for (std::size_t i = 0; i < length && IsDigit(text[i]); ++i) {
    value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return value;
}

// Decimals as atoi reads them (blanks and a sign first), held within int; a
// negative value can only be refused, so it becomes one past the limit.
unsigned int ReadDecimals(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value < 0) return kMaxDecimals + 1;
  return value > INT_MAX ? static_cast<unsigned int>(INT_MAX) : static_cast<unsigned int>(value);
}

}  // namespace

const Keyword* FindKeyword(const char* upperName) {
  for (const Keyword& keyword : kKeywords) {
    if (std::strcmp(upperName, keyword.name) == 0) return &keyword;
  }
  return nullptr;
}

const Keyword* KeywordOfCode(int code) {
  for (const Keyword& keyword : kKeywords) {
    if (keyword.code == code) return &keyword;
  }
  return nullptr;
}

const char* NameOfCode(int code) {
  if (code == kCodeAHex) return "AHEX";
  const Keyword* keyword = KeywordOfCode(code);
  return keyword != nullptr ? keyword->name : nullptr;
}

Kind KindOfCode(int code) {
  // Renderers ask for every value: a table by code, made once from the
  // keywords.
  static const std::array<Kind, kCodeLimit> kinds = [] {
    std::array<Kind, kCodeLimit> byCode;
    byCode.fill(Kind::kNumber);
    for (const Keyword& keyword : kKeywords) {
      if (KeywordOfCode(keyword.code) == &keyword) byCode[static_cast<std::size_t>(keyword.code)] = keyword.kind;
    }
    byCode[kCodeAHex] = Kind::kString;
    return byCode;
  }();
  return code >= 0 && code < kCodeLimit ? kinds[static_cast<std::size_t>(code)] : Kind::kNumber;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kString: return "string";
    case Kind::kDate: return "date";
    case Kind::kTime: return "time";
    case Kind::kWeekday: return "weekday";
    case Kind::kMonth: return "month";
    case Kind::kNumber: break;
  }
  return "number";
}

SplitWord Split(const char* word) {
  SplitWord split{false, 0, 0, 0, 0};
  const std::size_t keywordLength = std::strcspn(word, "1234567890.");
  if (keywordLength > 0) {
    split.keywordFirst = true;
    split.keywordLength = keywordLength;
    const char* rest = word + keywordLength;
    const std::size_t widthLength = std::strcspn(rest, ".");
    if (widthLength == 0) return split;  // "F" or "F.2": neither width nor decimals
    split.width = ReadWidth(rest, widthLength);
    const char* after = rest + widthLength;
    if (*after == '.' && after[1] != '\0') split.decimals = ReadDecimals(after + 1);
    return split;
  }
  const std::size_t digits = std::strspn(word, "1234567890");
  split.width = ReadWidth(word, digits);
  split.keywordStart = digits;
  split.keywordLength = std::strlen(word + digits);
  return split;
}

bool IsBareWidth(const char* word, std::size_t length) {
  return length > 0 && IsDigit(word[0]) && IsDigit(word[length - 1]);
}

void WidenTime(int code, unsigned long& width, unsigned int decimals) {
  if (code == kCodeTime && decimals >= 2 && width < 11) width = 11;
}

void ApplyDefaults(int code, unsigned long& width, unsigned int& decimals) {
  const Keyword* keyword = KeywordOfCode(code);
  const bool known = keyword != nullptr && keyword->hasDefault;
  width = known ? keyword->defaultWidth : 0;
  decimals = known ? keyword->defaultDecimals : 0;
}

bool CheckLimits(int code, unsigned long& width, unsigned int decimals) {
  if (width == 0 || decimals > kMaxDecimals) return false;
  if (width > (code == kCodeA ? kMaxStringWidth : kMaxNumericWidth)) return false;
  const Keyword* keyword = KeywordOfCode(code);
  if (keyword == nullptr) return false;
  if (decimals == 0) return width >= keyword->minWidth;
  const unsigned long smallest = keyword->minWithDecimals + (keyword->addsDecimals ? decimals : 0);
  if (width >= smallest) return true;
  if (code == kCodeE) {
    width = smallest;
    return true;
  }
  return false;
}

bool ReadFormatWord(const char* word, Format& format) {
  if (IsBareWidth(word, std::strlen(word))) return false;
  const SplitWord split = Split(word);
  std::string name(word + split.keywordStart, split.keywordLength);
  // Keywords are ASCII, so ASCII upper case decides every match.
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const Keyword* keyword = FindKeyword(name.c_str());
  if (keyword == nullptr) return false;
  format.code = keyword->code;
  format.width = split.width;
  format.decimals = split.decimals;
  WidenTime(format.code, format.width, format.decimals);
  if (format.width == 0 && format.decimals == 0) ApplyDefaults(format.code, format.width, format.decimals);
  return CheckLimits(format.code, format.width, format.decimals);
}

}  // namespace format
}  // namespace drav
