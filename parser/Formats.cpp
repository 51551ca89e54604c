// StreamParser: format words of the variable list (keyword, width and
// decimals), read by the shared format rules, and the format tables.
#include <cstdarg>
#include <cstring>

#include "base/FormatRules.h"
#include "host/MultiByte.h"
#include "parser/FormatTables.h"
#include "parser/MessageIds.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using parser_text::CopyCut;

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

namespace rules = drav::format;

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
  if (rules::IsBareWidth(word, length)) {
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
    const rules::Keyword* keyword = rules::FindKeyword(word);
    if (keyword == nullptr) {
      result = false;
    } else {
      type = static_cast<DRAV_Variable::FormatType>(keyword->code);
      rules::WidenTime(keyword->code, width, decimals);
    }
  }

  if (result) {
    if (width == 0 && decimals == 0) ApplyFormatDefaults(columnWidth, type, width, decimals);
    result = rules::CheckLimits(type, width, decimals);
  }

  TraceFileOut("StreamParser::GetFormat varType=%s vartype=%d w=%d d=%d success=%s", word,
               static_cast<int>(type), static_cast<int>(width), static_cast<int>(decimals),
               result ? "YES" : "NO");
  return result;
}

void StreamParser::ParseFormat(char* word, unsigned long& width, unsigned int& decimals) {
  char copy[kBufferSize];
  CopyCut(copy, sizeof copy, word, std::strlen(word));
  const rules::SplitWord split = rules::Split(copy);
  width = split.width;
  decimals = split.decimals;
  if (split.keywordFirst) {
    word[split.keywordLength] = '\0';
  } else if (split.keywordStart > 0) {
    std::memmove(word, word + split.keywordStart, std::strlen(word + split.keywordStart) + 1);
  }
}

void StreamParser::ApplyFormatDefaults(unsigned long columnWidth, unsigned int type,
                                       unsigned long& width, unsigned int& decimals) {
  decimals = 0;
  if (columnWidth > 0) {
    width = columnWidth;
    if ((type == rules::kCodeDateTime && width >= 23) || (type == rules::kCodeTime && width >= 11) ||
        (type == rules::kCodeDTime && width >= 15)) {
      decimals = 2;
    }
    return;
  }
  rules::ApplyDefaults(static_cast<int>(type), width, decimals);
}

void StreamParser::AdjustFormat(DRAV_Variable::FormatType& type, unsigned long& width,
                                char* token) {
  if (type == kFmtA && width > rules::kMaxStringWidth) {
    width = rules::kMaxStringWidth;
    PostErrorMsg(message_id::kStringWidthCut, token, true);
  } else if (type == kFmtF && width > rules::kMaxNumericWidth) {
    width = rules::kMaxNumericWidth;
    PostErrorMsg(message_id::kNumericWidthCut, token, true);
  }
}

void StreamParser::TraceFileOut(const char* format, ...) {
  // A hook for a tracing build; the product writes nothing.
  (void)format;
}
