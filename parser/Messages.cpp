// StreamParser: forming messages from the catalogs, the pending error and
// the warning list.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/DravServerErrorText.h"
#include "host/MultiByte.h"
#include "parser/FormatTables.h"
#include "parser/MessageIds.h"
#include "parser/StreamParser.h"

namespace {

constexpr const char* kErrorCatalog = "korvel.err";
constexpr const char* kWarningCatalog = "talvex.err";

// The integer arguments of the few texts that report a limit.
std::vector<long> ArgumentsOf(unsigned int id, bool warning) {
  using namespace message_id;
  if (!warning && id == kDuplicateName)
    return {StreamParser::kMaxNameBytes, StreamParser::kMaxNameBytes};
  if (warning && id == kStringWidthCut) return {kMaxStringWidth};
  if (warning && id == kNameCut) return {StreamParser::kMaxNameBytes};
  if (warning && id == kNumericWidthCut) return {kMaxNumericWidth};
  return {};
}

// Puts `args`, in order, in place of the text's integer conversions (%d or
// %i, with optional flags, width and an l length) and "%%" becomes "%". Any
// other conversion, or one beyond the arguments, is left as written: a
// catalog text can never make the formatting read what is not there. The
// result is kept whole, however long.
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

}  // namespace

bool StreamParser::PostErrorMsg(unsigned int id, const char* token, bool warning) {
  std::string text;
  {
    DravServerErrorText lookup(warning ? kWarningCatalog : kErrorCatalog, static_cast<long>(id));
    text = lookup.GetText();
  }
  std::vector<long> args = ArgumentsOf(id, warning);
  if (!args.empty()) text = FillIntegers(text, args);
  // The token is appended after the formatting, so a "%" in it stays as is.
  if (token != nullptr) {
    text += ' ';
    text += token;
  }
  if (warning) {
    warningList.push_back(ErrorText(ErrorString(text.c_str()), ErrorText::kWarning, 0));
  } else {
    char* copy = new char[text.size() + 1];
    DRAVMBstrcpy_A(copy, text.c_str());
    delete[] errorMesToken;
    errorMesToken = copy;
  }
  return true;
}

char* StreamParser::GetErrorMesToken() { return errorMesToken; }

unsigned int StreamParser::GetErrorMesID() { return errorMesID; }

ErrorTextList* StreamParser::GetWarningList() { return &warningList; }

void StreamParser::EmptyErrorTextList() {
  if (!warningList.empty()) warningList.clear();
}
