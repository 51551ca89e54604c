#include "dravfeed/VariableList.h"

#include "base/FormatRules.h"
#include "base/ListMessages.h"
#include "base/VariableListReader.h"

namespace drav {
namespace feed {
namespace {

ValueKind KindOf(format::Kind kind) {
  switch (kind) {
    case format::Kind::kString: return ValueKind::kString;
    case format::Kind::kDate: return ValueKind::kDate;
    case format::Kind::kTime: return ValueKind::kTime;
    case format::Kind::kNumber:
    case format::Kind::kWeekday:
    case format::Kind::kMonth: break;
  }
  return ValueKind::kNumber;
}

FeedVariable FeedVariableOf(const std::string& name, const std::string& word, const format::Format& f) {
  const int width = static_cast<int>(f.width);
  const bool isString = format::IsStringCode(f.code);
  return FeedVariable{name, word, KindOf(format::KindOfCode(f.code)), isString ? width : 0,
                      f.code, width, static_cast<int>(f.decimals)};
}

}  // namespace

VariableList VariableList::Parse(const std::string& text) {
  const format::ListVerdict verdict = format::ReadVariableList(text);
  const format::ListMessage& error = verdict.error;
  if (verdict.refused) throw VariableListError(error.id, messages::CompiledMessage(error.id, false, error.token));
  if (verdict.variables.empty()) throw InputError("the variable list is empty");
  VariableList list;
  for (const format::ListMessage& warning : verdict.warnings)
    list.warnings_.push_back(messages::CompiledMessage(warning.id, true, warning.token));
  for (const format::ListedVariable& listed : verdict.variables) {
    list.variables_.push_back(FeedVariableOf(listed.name, listed.formatWord, listed.format));
    list.layout_.Append(list.variables_.back().stringWidth);
  }
  return list;
}

}  // namespace feed
}  // namespace drav
