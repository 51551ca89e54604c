#include "base/ListMessages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/FormatRules.h"
#include "base/VariableName.h"

namespace drav {
namespace messages {

// The two catalog files as they were at build time (generated from
// catalogs/*.err).
extern const char kCompiledErrorCatalog[];
extern const char kCompiledWarningCatalog[];

namespace {

// The text of `id` in a catalog: one message a line, the identifier, a tab,
// the text; "#" starts a comment line.
std::string TextIn(const char* catalog, unsigned int id) {
  const std::string key = std::to_string(id) + "\t";
  for (const char* line = catalog; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) end = line + std::strlen(line);
    if (std::strncmp(line, key.c_str(), key.size()) == 0) {
      std::string text(line + key.size(), end);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      return text;
    }
    line = *end == '\n' ? end + 1 : end;
  }
  return "The message catalog of this build has no text for this message.";
}

}  // namespace

std::vector<long> LimitsOf(unsigned int id, bool warning) {
  const long nameBytes = static_cast<long>(name::kMaxNameBytes);
  if (!warning && id == kDuplicateName) return {nameBytes, nameBytes};
  if (warning && id == kStringWidthCut) return {static_cast<long>(format::kMaxStringWidth)};
  if (warning && id == kNameCut) return {nameBytes};
  if (warning && id == kNumericWidthCut) return {static_cast<long>(format::kMaxNumericWidth)};
  return {};
}

std::string FillIntegers(const std::string& text, const std::vector<long>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < text.size() && std::strchr("-+ 0#123456789l", text[j]) != nullptr) ++j;
    if (j < text.size() && (text[j] == 'd' || text[j] == 'i') && next < args.size()) {
      std::string conversion = text.substr(i, j - i);
      conversion.erase(std::remove(conversion.begin(), conversion.end(), 'l'), conversion.end());
      conversion += "ld";
      char number[64];
      std::snprintf(number, sizeof number, conversion.c_str(), args[next++]);
      out += number;
      i = j;
    } else {
      out += '%';
    }
  }
  return out;
}

std::string CompiledMessage(unsigned int id, bool warning, const std::string& token) {
  const std::string text = TextIn(warning ? kCompiledWarningCatalog : kCompiledErrorCatalog, id);
  return "[" + std::to_string(id) + "] " + FillIntegers(text, LimitsOf(id, warning)) + " " + token;
}

}  // namespace messages
}  // namespace drav
