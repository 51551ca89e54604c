#include "base/VariableListReader.h"

#include <cstring>

#include "base/ListMessages.h"
#include "base/StreamCommand.h"
#include "base/VariableName.h"

namespace drav {
namespace format {
namespace {

constexpr const char* kBlanks = " \t\r\n";

// Moves `at` past blanks and returns the word there, read from its first
// 1023 bytes (cut between characters); `at` moves past the whole word.
std::string NextWord(const std::string& text, std::size_t& at) {
  at = text.find_first_not_of(kBlanks, at);
  if (at == std::string::npos) {
    at = text.size();
    return std::string();
  }
  std::size_t end = text.find_first_of(kBlanks, at);
  if (end == std::string::npos) end = text.size();
  const std::size_t kept = name::CutAtCharBoundary(text.c_str() + at, end - at, name::kMaxWordBytes);
  std::string word = text.substr(at, kept);
  at = end;
  return word;
}

bool Refuse(ListVerdict& verdict, unsigned int id, const std::string& token) {
  verdict.refused = true;
  verdict.error = ListMessage{id, token};
  return false;
}

// Reads the entry at `at` into `verdict`; false when it was refused.
bool ReadEntry(const std::string& text, std::size_t& at, std::vector<std::string>& upperNames,
               ListVerdict& verdict) {
  std::string variableName = NextWord(text, at);
  if (variableName.size() > name::kMaxNameBytes) {
    verdict.warnings.push_back(ListMessage{messages::kNameCut, variableName});
    variableName.resize(
        name::CutAtCharBoundary(variableName.c_str(), variableName.size(), name::kMaxNameBytes));
  }
  const std::string upper = name::UpperCase(variableName);
  for (const std::string& earlier : upperNames) {
    if (earlier == upper) return Refuse(verdict, messages::kDuplicateName, variableName);
  }
  const name::Check check = name::CheckName(variableName.c_str());
  if (check == name::kReservedWord) return Refuse(verdict, messages::kReservedName, variableName);
  if (check != name::kValid) return Refuse(verdict, messages::kInvalidName, variableName);
  ListedVariable variable{variableName, NextWord(text, at), Format{}};
  if (!ReadFormatWord(variable.formatWord.c_str(), variable.format))
    return Refuse(verdict, messages::kBadFormat, variableName);
  upperNames.push_back(upper);
  verdict.variables.push_back(std::move(variable));
  return true;
}

}  // namespace

ListVerdict ReadVariableList(const std::string& whole) {
  // The list is a text: it ends at a NUL, as a command's text does.
  const std::string text = whole.substr(0, whole.find('\0'));
  ListVerdict verdict;
  std::vector<std::string> upperNames;
  std::size_t at = 0;
  while (true) {
    at = text.find_first_not_of(kBlanks, at);
    if (at == std::string::npos || command::EndsCommand(text.c_str() + at)) break;
    if (!ReadEntry(text, at, upperNames, verdict)) break;
  }
  return verdict;
}

}  // namespace format
}  // namespace drav
