// StreamParser: forming messages from the catalogs, the pending error and
// the warning list.
#include <string>
#include <vector>

#include "base/ListMessages.h"
#include "host/DravServerErrorText.h"
#include "host/MultiByte.h"
#include "parser/MessageIds.h"
#include "parser/StreamParser.h"

namespace {

constexpr const char* kErrorCatalog = "korvel.err";
constexpr const char* kWarningCatalog = "talvex.err";

}  // namespace

bool StreamParser::PostErrorMsg(unsigned int id, const char* token, bool warning) {
  std::string text;
  {
    DravServerErrorText lookup(warning ? kWarningCatalog : kErrorCatalog, static_cast<long>(id));
    text = lookup.GetText();
  }
  std::vector<long> args = drav::messages::LimitsOf(id, warning);
  if (!args.empty()) text = drav::messages::FillIntegers(text, args);
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
