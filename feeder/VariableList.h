#pragma once
// The feeder's view of a variable list, "name FORMAT name FORMAT ...", the
// same syntax as the command's /VARIABLES list. The feeder needs less than the
// command does: how each value is written (a number, a string of some width,
// a date or a time of day) and the case layout that follows from it. Limits
// on widths and decimals are the command's business; the reader refuses what
// it does not accept.
#include <cstddef>
#include <string>
#include <vector>

#include "base/WireFormat.h"

namespace drav {
namespace feed {

enum class ValueKind {
  kNumber,  // a double
  kString,  // bytes padded with blanks or cut to the width
  kDate,    // seconds since 1970-01-01, written as an ISO 8601 date or date-time
  kTime,    // seconds, written as a time of day or a duration hh:mm[:ss]
};

struct FeedVariable {
  std::string name;
  std::string format;  // the format word as written
  ValueKind kind;
  int stringWidth;  // 0 for every kind but kString
};

class VariableList {
 public:
  // Throws InputError naming the word that is wrong.
  static VariableList Parse(const std::string& text);

  const std::vector<FeedVariable>& Variables() const { return variables_; }
  const FeedVariable& operator[](std::size_t column) const { return variables_[column]; }
  std::size_t size() const { return variables_.size(); }
  const wire::CaseLayout& Layout() const { return layout_; }
  std::size_t RecordBytes() const { return layout_.RecordBytes(); }

 private:
  std::vector<FeedVariable> variables_;
  wire::CaseLayout layout_;
};

// The kind and string width a single format word stands for, e.g. "A20" gives
// (kString, 20), "8F" gives (kNumber, 0). Throws InputError.
FeedVariable ReadFormatWord(const std::string& name, const std::string& word);

}  // namespace feed
}  // namespace drav
