// StreamParser: format words of the variable list (keyword, width and
// decimals), their defaults and limits, and the format tables.
#include <cstdarg>
#include <cstring>

#include "host/MultiByte.h"
#include "parser/FormatTables.h"
#include "parser/MessageIds.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using parser_text::CopyCut;
using parser_text::kDigits;

const DataTypeRow dataTypeTable[21] = {
    {"f", kFmtF},           {"a", kFmtA},         {"comma", kFmtCOMMA},
    {"dollar", kFmtDOLLAR}, {"dot", kFmtDOT},     {"skip", kFmtF},
    {"adate", kFmtADATE},   {"edate", kFmtEDATE}, {"jdate", kFmtJDATE},
    {"sdate", kFmtSDATE},   {"qyr", kFmtQYR},     {"moyr", kFmtMOYR},
    {"wkyr", kFmtWKYR},     {"wkday", kFmtWKDAY}, {"month", kFmtMONTH},
    {"time", kFmtTIME},     {"dtime", kFmtDTIME}, {"datetime", kFmtDATETIME},
    {"date", kFmtDATE},     {"mtime", kFmtMTIME}, {"ymdhms", kFmtYMDHMS},
};

const DRAV_Format kDefaultFormat(kFmtF, 8, 2);

namespace {

constexpr unsigned int kMaxDecimals = 16;
constexpr std::size_t kWidthTextSize = 256;

// One format keyword: its code, its default (when the word gives neither
// width nor decimals) and its smallest width. With d decimals the smallest
// width is minWithDecimals, plus d when addsDecimals holds.
struct FormatRule {
  const char* keyword;
  int code;
  bool hasDefault;
  unsigned long defaultWidth;
  unsigned int defaultDecimals;
  unsigned long minWidth;
  unsigned long minWithDecimals;
  bool addsDecimals;
};

// In the order keywords are matched.
constexpr FormatRule kFormatRules[] = {
    {"F", kFmtF, true, 8, 2, 1, 1, true},
    {"A", kFmtA, true, 255, 0, 1, 1, false},
    {"E", kFmtE, true, 13, 5, 8, 7, true},
    {"N", kFmtN, true, 8, 0, 1, 1, false},
    {"PCT", kFmtPCT, true, 8, 2, 2, 2, true},
    {"COMMA", kFmtCOMMA, true, 8, 2, 1, 1, true},
    {"DOT", kFmtDOT, true, 8, 2, 1, 1, true},
    {"DOLLAR", kFmtDOLLAR, true, 8, 2, 2, 2, true},
    {"DATE", kFmtDATE, true, 11, 0, 9, 9, false},
    {"ADATE", kFmtADATE, true, 10, 0, 8, 8, false},
    {"EDATE", kFmtEDATE, true, 10, 0, 8, 8, false},
    {"JDATE", kFmtJDATE, true, 7, 0, 5, 5, false},
    {"SDATE", kFmtSDATE, true, 10, 0, 8, 8, false},
    {"QYR", kFmtQYR, true, 8, 0, 6, 6, false},
    {"MOYR", kFmtMOYR, true, 8, 0, 6, 6, false},
    {"WKYR", kFmtWKYR, true, 10, 0, 8, 8, false},
    {"DATETIME", kFmtDATETIME, true, 23, 2, 17, 21, true},
    {"TIME", kFmtTIME, true, 11, 2, 5, 9, true},
    {"DTIME", kFmtDTIME, true, 15, 2, 9, 13, true},
    {"WKDAY", kFmtWKDAY, true, 9, 0, 2, 2, false},
    {"MONTH", kFmtMONTH, true, 9, 0, 3, 3, false},
    {"YMDHMS", kFmtYMDHMS, false, 0, 0, 12, 20, true},
    {"MTIME", kFmtMTIME, false, 0, 0, 5, 6, true},
    {"CCA", kFmtF, true, 8, 2, 1, 1, true},
    {"CCB", kFmtF, true, 8, 2, 1, 1, true},
    {"CCC", kFmtF, true, 8, 2, 1, 1, true},
    {"CCD", kFmtF, true, 8, 2, 1, 1, true},
    {"CCE", kFmtF, true, 8, 2, 1, 1, true},
};

const FormatRule* RuleForKeyword(const char* keyword) {
  for (const FormatRule& rule : kFormatRules) {
    if (DRAVMBstrcmp_A(keyword, rule.keyword) == 0) return &rule;
  }
  return nullptr;
}

const FormatRule* RuleForCode(unsigned int code) {
  for (const FormatRule& rule : kFormatRules) {
    if (static_cast<unsigned int>(rule.code) == code) return &rule;
  }
  return nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of the first `length` bytes of `text`, read through a width
// buffer of 256 bytes: a longer width text keeps its first 255 digits, which
// is far beyond every limit anyway.
unsigned long ReadWidth(const char* text, std::size_t length) {
  char widthText[kWidthTextSize];
  CopyCut(widthText, sizeof widthText, text, length);
  int value = parser_text::ReadInt(widthText);
  return value < 0 ? 0 : static_cast<unsigned long>(value);
}

// True when `width` with `decimals` is within the limits of `code`. An E
// format too narrow for its decimals is widened instead of refused.
bool CheckLimits(unsigned int code, unsigned long& width, unsigned int decimals) {
  if (width == 0 || decimals > kMaxDecimals) return false;
  if (width > (code == kFmtA ? kMaxStringWidth : kMaxNumericWidth)) return false;
  const FormatRule* rule = RuleForCode(code);
  if (rule == nullptr) return false;
  if (decimals == 0) return width >= rule->minWidth;
  unsigned long smallest = rule->minWithDecimals + (rule->addsDecimals ? decimals : 0);
  if (width >= smallest) return true;
  if (code == kFmtE) {
    width = smallest;
    return true;
  }
  return false;
}

}  // namespace

bool StreamParser::GetFormat(unsigned long columnWidth, DRAV_Variable::FormatType& type,
                             unsigned long& width, unsigned int& decimals) {
  bool result = true;
  type = kFmtUnset;
  width = 0;
  decimals = 0;
  char word[kBufferSize];
  ParseWord(word, sizeof word);

  // A word that begins and ends with a digit is a bare width; only a
  // following "X" could complete it, and even 8X names no keyword.
  std::size_t length = std::strlen(word);
  if (length > 0 && IsDigit(word[0]) && IsDigit(word[length - 1])) {
    char next[kBufferSize];
    ParseWord(next, sizeof next);
    if (DRAVMBstrcmp_A(next, "X") == 0 && length + 1 < sizeof word) {
      word[length] = 'X';
      word[length + 1] = '\0';
    } else {
      result = false;
    }
  }

  if (result) {
    ParseFormat(word, width, decimals);
    DRAVMBstrupr_A(word);
    const FormatRule* rule = RuleForKeyword(word);
    if (rule == nullptr) {
      result = false;
    } else {
      type = static_cast<DRAV_Variable::FormatType>(rule->code);
      // TIME with seconds' decimals needs room for the whole time of day.
      if (rule->code == kFmtTIME && decimals >= 2 && width < 11) width = 11;
    }
  }

  if (result) {
    if (width == 0 && decimals == 0) ApplyFormatDefaults(columnWidth, type, width, decimals);
    result = CheckLimits(type, width, decimals);
  }

  TraceFileOut("StreamParser::GetFormat varType=%s vartype=%d w=%d d=%d success=%s", word,
               static_cast<int>(type), static_cast<int>(width), static_cast<int>(decimals),
               result ? "YES" : "NO");
  return result;
}

void StreamParser::ParseFormat(char* word, unsigned long& width, unsigned int& decimals) {
  width = 0;
  decimals = 0;
  char copy[kBufferSize];
  CopyCut(copy, sizeof copy, word, std::strlen(word));

  std::size_t k = DRAVMBstrcspn_A(copy, "1234567890.");
  if (k > 0) {
    word[k] = '\0';
    const char* rest = copy + k;
    std::size_t m = DRAVMBstrcspn_A(rest, ".");
    if (m == 0) return;
    width = ReadWidth(rest, m);
    const char* after = DRAVMBstrinc_A(rest + m);
    if (*after != '\0') {
      int value = parser_text::ReadInt(after);
      // Negative decimals can only be refused; they are kept out of range.
      decimals = value < 0 ? kMaxDecimals + 1 : static_cast<unsigned int>(value);
    }
    return;
  }
  std::size_t j = DRAVMBstrspn_A(copy, kDigits);
  if (j == 0) return;
  width = ReadWidth(copy, j);
  std::memmove(word, word + j, std::strlen(word + j) + 1);
}

void StreamParser::ApplyFormatDefaults(unsigned long columnWidth, unsigned int type,
                                       unsigned long& width, unsigned int& decimals) {
  decimals = 0;
  if (columnWidth > 0) {
    width = columnWidth;
    if ((type == kFmtDATETIME && width >= 23) || (type == kFmtTIME && width >= 11) ||
        (type == kFmtDTIME && width >= 15)) {
      decimals = 2;
    }
    return;
  }
  const FormatRule* rule = RuleForCode(type);
  if (rule == nullptr || !rule->hasDefault) {
    width = 0;
    return;
  }
  width = rule->defaultWidth;
  decimals = rule->defaultDecimals;
}

void StreamParser::AdjustFormat(DRAV_Variable::FormatType& type, unsigned long& width,
                                char* token) {
  if (type == kFmtA && width > kMaxStringWidth) {
    width = kMaxStringWidth;
    PostErrorMsg(message_id::kStringWidthCut, token, true);
  } else if (type == kFmtF && width > kMaxNumericWidth) {
    width = kMaxNumericWidth;
    PostErrorMsg(message_id::kNumericWidthCut, token, true);
  }
}

void StreamParser::TraceFileOut(const char* format, ...) {
  // A hook for a tracing build; the product writes nothing.
  (void)format;
}
