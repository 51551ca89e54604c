// Runs the parser over a text, reads every getter afterwards and checks the
// promises every caller relies on: the result is 0 or 1, a refusal always
// leaves exactly one pending error, an acceptance none, variable names fit
// their 64 bytes, are valid names and differ from each other in upper case,
// and every text is a readable C string.
#include "fuzz/ParserChecks.h"

#include <set>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "host/DravName.h"
#include "parser/StreamParser.h"

namespace {

void ReadVariables(StreamParser& parser) {
  const int count = parser.GetVarIndex();
  FUZZ_CHECK(count >= 0);
  std::set<std::string> upperNames;
  for (int i = 0; i < count; ++i) {
    DRAV_Variable* variable = parser.GetVariable(i);
    FUZZ_CHECK(variable != nullptr);
    FUZZ_CHECK(FuzzTouch(variable->GetName()) <= StreamParser::kMaxNameBytes);
    FUZZ_CHECK(FuzzTouch(variable->GetUpperCaseName()) <= StreamParser::kMaxNameBytes * 4);
    FUZZ_CHECK(ValidateDRAVName(variable->GetName()) == kDravNameValid);
    FUZZ_CHECK(upperNames.insert(variable->GetUpperCaseName()).second);
    DRAV_Variable::FormatType type;
    int width = 0;
    int decimals = 0;
    variable->GetFormat(type, width, decimals);
    variable->GetWriteFormat(type, width, decimals);
    (void)variable->GetDisplayWidth();
    (void)variable->IsString();
  }
}

void ReadEverything(StreamParser& parser, int result) {
  FUZZ_CHECK(result == 0 || result == 1);
  const char* error = parser.GetErrorMesToken();
  if (result == 1) {
    FUZZ_CHECK(error != nullptr && error[0] == '[');
  } else {
    FUZZ_CHECK(error == nullptr);
  }
  FuzzTouch(error);
  (void)parser.GetErrorMesID();
  for (const ErrorText& warning : *parser.GetWarningList()) {
    FUZZ_CHECK(warning.Severity() == ErrorText::kWarning);
    FuzzTouch(warning.Text().c_str());
  }
  ReadVariables(parser);
  FuzzTouch(parser.GetName());
  FuzzTouch(parser.GetRewindName());
  FuzzTouch(parser.GetHostName());
  (void)parser.GetSeekFlag();
  (void)parser.GetSockUse();
  (void)parser.GetRewSupport();
  unsigned long line = 0;
  unsigned long start = 0;
  unsigned long width = 0;
  (void)parser.GetLineNumber(line);
  (void)parser.GetPositions(start, width);
}

}  // namespace

ParseSummary ParseAndCheck(const std::string& text, DACAdapterBase* adapter) {
  StreamParser parser(text.c_str(), adapter);
  ParseSummary summary;
  summary.result = parser.ParseToExecutor();
  ReadEverything(parser, summary.result);
  summary.variables = parser.GetVarIndex();
  summary.name = parser.GetName();
  summary.rewindName = parser.GetRewindName();
  if (parser.GetErrorMesToken() != nullptr) summary.error = parser.GetErrorMesToken();
  return summary;
}

