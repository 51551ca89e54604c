#include "feeder/VariableList.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

// The command's default string width when "A" has none.
constexpr int kDefaultStringWidth = 255;
constexpr int kMaxStringWidth = 32767;

struct KeywordKind {
  const char* keyword;
  ValueKind kind;
};

// Every format keyword the command accepts, by the kind of value it shows.
constexpr KeywordKind kKeywords[] = {
    {"A", ValueKind::kString},      {"F", ValueKind::kNumber},      {"N", ValueKind::kNumber},
    {"E", ValueKind::kNumber},      {"PCT", ValueKind::kNumber},    {"COMMA", ValueKind::kNumber},
    {"DOT", ValueKind::kNumber},    {"DOLLAR", ValueKind::kNumber}, {"CCA", ValueKind::kNumber},
    {"CCB", ValueKind::kNumber},    {"CCC", ValueKind::kNumber},    {"CCD", ValueKind::kNumber},
    {"CCE", ValueKind::kNumber},    {"WKDAY", ValueKind::kNumber},  {"MONTH", ValueKind::kNumber},
    {"DATE", ValueKind::kDate},     {"ADATE", ValueKind::kDate},    {"EDATE", ValueKind::kDate},
    {"SDATE", ValueKind::kDate},    {"JDATE", ValueKind::kDate},    {"QYR", ValueKind::kDate},
    {"MOYR", ValueKind::kDate},     {"WKYR", ValueKind::kDate},     {"DATETIME", ValueKind::kDate},
    {"YMDHMS", ValueKind::kDate},   {"TIME", ValueKind::kTime},     {"DTIME", ValueKind::kTime},
    {"MTIME", ValueKind::kTime},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Refuse(const std::string& name, const std::string& word, const char* why) {
  throw InputError("variable " + name + ": format \"" + word + "\" " + why);
}

// Splits "COMMA10.2" or "8F" into keyword and width; decimals only need to
// be well formed.
void SplitFormat(const std::string& name, const std::string& word, std::string& keyword,
                 int& width) {
  std::size_t i = 0;
  width = 0;
  if (IsDigit(word[0])) {  // width first: 8F
    while (i < word.size() && IsDigit(word[i])) ++i;
    keyword = word.substr(i);
    if (keyword.empty() || keyword.find_first_of("0123456789.") != std::string::npos)
      Refuse(name, word, "is not a format (width first allows no decimals)");
    width = std::stoi(word.substr(0, i > 6 ? 6 : i));
    return;
  }
  while (i < word.size() && !IsDigit(word[i]) && word[i] != '.') ++i;
  keyword = word.substr(0, i);
  std::size_t digits = i;
  while (digits < word.size() && IsDigit(word[digits])) ++digits;
  if (digits > i) width = std::stoi(word.substr(i, std::min<std::size_t>(digits - i, 6)));
  if (digits < word.size() && word[digits] == '.') {
    std::size_t end = digits + 1;
    while (end < word.size() && IsDigit(word[end])) ++end;
    digits = end;
  }
  if (digits != word.size()) Refuse(name, word, "has characters after its width");
}

}  // namespace

FeedVariable ReadFormatWord(const std::string& name, const std::string& word) {
  if (word.empty()) Refuse(name, word, "is empty");
  std::string keyword;
  int width = 0;
  SplitFormat(name, word, keyword, width);
  for (char& c : keyword) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const KeywordKind& entry : kKeywords) {
    if (keyword != entry.keyword) continue;
    FeedVariable variable{name, word, entry.kind, 0};
    if (entry.kind == ValueKind::kString) {
      if (width == 0) width = kDefaultStringWidth;
      if (width > kMaxStringWidth) Refuse(name, word, "is wider than 32767 bytes");
      variable.stringWidth = width;
    }
    return variable;
  }
  Refuse(name, word, "has an unknown keyword");
}

VariableList VariableList::Parse(const std::string& text) {
  std::istringstream words(text);
  VariableList list;
  std::string name, format;
  while (words >> name) {
    if (!(words >> format)) throw InputError("variable " + name + " has no format");
    for (const FeedVariable& earlier : list.variables_) {
      if (strcasecmp(earlier.name.c_str(), name.c_str()) == 0)
        throw InputError("variable " + name + " is named twice");
    }
    FeedVariable variable = ReadFormatWord(name, format);
    list.layout_.Append(variable.stringWidth);
    list.variables_.push_back(std::move(variable));
  }
  if (list.variables_.empty()) throw InputError("the variable list is empty");
  return list;
}

}  // namespace feed
}  // namespace drav
