// StreamParser: the /VARIABLES list (one name and one format word per
// variable) and the column-description operations.
#include <cstring>

#include "base/StreamCommand.h"
#include "host/DravName.h"
#include "host/MultiByte.h"
#include "parser/FormatTables.h"
#include "parser/MessageIds.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using parser_text::CopyCut;
using parser_text::CutAtCharBoundary;

namespace {

constexpr unsigned int kNotFound = static_cast<unsigned int>(-1);

}  // namespace

int StreamParser::ParseVariable(int /*unused*/) {
  SkipWhiteSpace();
  if (*scanPos == '\0' || drav::command::EndsCommand(scanPos)) return 1;

  char name[kBufferSize];
  GetVarName(name);

  char upperName[kBufferSize];
  DRAVMBstrcpy_A(upperName, name);
  DRAVMBstrupr_A(upperName);
  if (SearchUpperVarName(upperName) != kNotFound) {
    PostErrorMsg(message_id::kDuplicateName, name, false);
    return 2;
  }

  int check = ValidateDRAVName(name);
  if (check != kDravNameValid) {
    PostErrorMsg(
        check == kDravNameReservedWord ? message_id::kReservedName : message_id::kInvalidName, name,
        false);
    return 2;
  }

  TraceFileOut("StreamParser::ParseVariable name=%s", name);

  DRAV_Variable::FormatType type;
  unsigned long width;
  unsigned int decimals;
  if (!GetFormat(0, type, width, decimals)) {
    PostErrorMsg(message_id::kBadFormat, name, false);
    return 2;
  }
  AdjustFormat(type, width, name);

  auto* variable = new DRAV_Variable(type);
  variable->SetFormat(type, static_cast<int>(width), static_cast<int>(decimals));
  variable->SetName(name);
  AddVariable(variable);
  return 0;
}

bool StreamParser::GetVarName(char* name) {
  ParseWord(name, kBufferSize);
  std::size_t length = std::strlen(name);
  if (length > kMaxNameBytes) {
    PostErrorMsg(message_id::kNameCut, name, true);
    // Cut between characters, so that a name in any script stays valid text.
    name[CutAtCharBoundary(name, length, kMaxNameBytes)] = '\0';
  }
  return true;
}

unsigned int StreamParser::SearchUpperVarName(char* upperName) {
  if (upperNameIndex == nullptr || upperName == nullptr) return kNotFound;
  // Names compare byte for byte, as DRAVMBstrcmp_A compares them.
  const auto found = upperNameIndex->find(std::string_view(upperName));
  return found == upperNameIndex->end() ? kNotFound : found->second;
}

bool StreamParser::AddVariable(DRAV_Variable* variable) {
  if (variables == nullptr) variables = new std::vector<DRAV_Variable*>();
  if (upperNameIndex == nullptr) upperNameIndex = new std::unordered_map<std::string_view, std::uint32_t>();
  variables->push_back(variable);
  upperNameIndex->emplace(variable->GetUpperCaseName(), static_cast<std::uint32_t>(varIndex));
  ++varIndex;
  return true;
}

int StreamParser::GetVarIndex() { return static_cast<int>(varIndex); }

// Out-of-range positions give null rather than reading past the array.
DRAV_Variable* StreamParser::GetVariable(int index) {
  if (variables == nullptr || index < 0 || static_cast<std::size_t>(index) >= variables->size()) {
    return nullptr;
  }
  return (*variables)[static_cast<std::size_t>(index)];
}

void StreamParser::ParseVarName(DRAV_Variable* variable) {
  SkipWhiteSpace();
  char name[kBufferSize];
  ParseDelims(name, sizeof name);
  variable->SetName(name);
}

void StreamParser::ParseDataType(DRAV_Variable* variable) {
  char word[kBufferSize];
  ParseWord(word, sizeof word);
  DRAV_Format format;
  for (const DataTypeRow& row : dataTypeTable) {
    if (DRAVMBstricmp_A(word, row.keyword) == 0) {
      format.Type(static_cast<DRAV_Format::FormatType>(static_cast<std::int32_t>(row.code)));
      break;
    }
  }
  variable->SetFormat(format);
}

bool StreamParser::GetLineNumber(unsigned long& line) {
  char word[kBufferSize];
  char* peek = scanPos;
  GetNextWord(peek, word);
  if (word[0] != '/') {
    if (lineNumber == 0) lineNumber = 1;
    line = lineNumber;
    return true;
  }
  if (word[1] == '\0') {
    // A bare "/" moves to the next record; before any record that is the
    // first one, so every successful call gives a record number of 1 or more.
    ParseWord(word, sizeof word);
    line = ++lineNumber;
    return true;
  }
  int n = parser_text::ReadInt(word + 1);
  if (n > 0 && static_cast<std::uint64_t>(n) >= lineNumber) {
    line = static_cast<unsigned long>(n);
    lineNumber = static_cast<std::uint64_t>(n);
    ParseWord(word, sizeof word);
    return true;
  }
  line = 0;
  return false;
}

bool StreamParser::GetPositions(unsigned long& start, unsigned long& width) {
  start = 0;
  width = 0;
  char word[kBufferSize];
  ParseWord(word, sizeof word);
  if (word[0] == '-') return false;
  long first = parser_text::ReadInt(word);
  start = static_cast<unsigned long>(first);
  const char* dash = std::strchr(word, '-');
  if (dash == nullptr || dash[1] == '\0') return false;
  long end = parser_text::ReadInt(dash + 1);
  if (end < first) return false;
  width = static_cast<unsigned long>(end - first + 1);
  return true;
}
