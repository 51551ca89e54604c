#pragma once
// The format words of a variable list ("F8.2", "A20", "8F", "DATETIME"):
// the keywords and their codes, how a word splits into keyword, width and
// decimals, the defaults, the limits, and what kind of value each format
// holds. The plug-in's parser, the feeder library and dravrun all read
// formats through these rules; tests/data/variable-lists.tsv holds every
// side to them, the Python package included.
#include <cstddef>

namespace drav {
namespace format {

// Format type codes (the host's) that the rules below need by name.
constexpr int kCodeA = 1;     // a string of bytes
constexpr int kCodeAHex = 2;  // a string shown in hex; no keyword of a list names it
constexpr int kCodeF = 5;
constexpr int kCodeE = 17;
constexpr int kCodeTime = 21;
constexpr int kCodeDateTime = 22;
constexpr int kCodeDTime = 25;

constexpr unsigned long kMaxStringWidth = 32767;
constexpr unsigned long kMaxNumericWidth = 40;
constexpr unsigned int kMaxDecimals = 16;

// What a value of the format is: a plain number, a string, a moment (seconds
// since 1970-01-01T00:00:00), a time of day or duration (seconds), a weekday
// number (1 = Sunday) or a month number (1 = January).
enum class Kind { kNumber, kString, kDate, kTime, kWeekday, kMonth };

// One keyword. With d > 0 decimals the smallest width is minWithDecimals,
// plus d when addsDecimals holds; with none it is minWidth.
struct Keyword {
  const char* name;  // upper case
  int code;
  Kind kind;
  bool hasDefault;  // false: the word must give a width
  unsigned long defaultWidth;
  unsigned int defaultDecimals;
  unsigned long minWidth;
  unsigned long minWithDecimals;
  bool addsDecimals;
};

// The keyword `upperName` is, compared exactly (upper-case it first), in
// the order keywords are matched; null when it is none.
const Keyword* FindKeyword(const char* upperName);
// The first keyword of `code` (F for 5); null for a code no keyword has.
const Keyword* KeywordOfCode(int code);
// The name a format of `code` is written with ("AHEX" for code 2, which no
// list may name); null for an unknown code.
const char* NameOfCode(int code);
// Codes 1 and 2 are strings; every other code is numeric.
constexpr bool IsStringCode(int code) { return code == kCodeA || code == kCodeAHex; }
// The kind of an unknown code is a number.
Kind KindOfCode(int code);
// "number", "string", "date", "time", "weekday" or "month".
const char* KindName(Kind kind);

// A format word split up. Keyword first ("COMMA10.2", "F.2", "F8X"): the
// keyword runs to the first digit or "."; the width is the number after it
// (up to a "." or the end; its text is read from its first 255 bytes, as
// atoi reads it), the decimals the number after that ".". Width first
// ("8F"): the width is the leading digits and the keyword is the rest, with
// no decimals. A word that begins with "." has neither.
struct SplitWord {
  bool keywordFirst;
  std::size_t keywordStart;
  std::size_t keywordLength;  // the keyword runs to the end of the word when width comes first
  unsigned long width;
  unsigned int decimals;  // above kMaxDecimals when written negative
};
SplitWord Split(const char* word);

// True when a word begins and ends with a digit: a bare width, which only a
// following word "X" could complete, and even "8X" names no keyword.
bool IsBareWidth(const char* word, std::size_t length);

// TIME with seconds' decimals needs room for a whole time of day: a smaller
// width becomes 11.
void WidenTime(int code, unsigned long& width, unsigned int decimals);
// The width and decimals of a format word that gives neither; width 0 for a
// code without a default, which the limits then refuse.
void ApplyDefaults(int code, unsigned long& width, unsigned int& decimals);
// True when `width` and `decimals` are within the limits of `code`. An E
// format too narrow for its decimals is widened instead of refused.
bool CheckLimits(int code, unsigned long& width, unsigned int decimals);

struct Format {
  int code = 0;
  unsigned long width = 0;
  unsigned int decimals = 0;
};
// Reads one whole format word by all the rules above; false when refused,
// and `format` then holds nothing meaningful.
bool ReadFormatWord(const char* word, Format& format);

}  // namespace format
}  // namespace drav
