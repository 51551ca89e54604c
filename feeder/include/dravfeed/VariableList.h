#pragma once
// The feeder's view of a variable list, "name FORMAT name FORMAT ...", the
// same syntax as the command's /VARIABLES list and read by the same rules
// (base/): what the plug-in accepts is accepted, what it refuses is refused
// with the plug-in's own message. The feeder then needs how each value is
// written (a number, a string of some width, a date or a time of day) and
// the case layout that follows from it.
#include <cstddef>
#include <string>
#include <vector>

#include "dravfeed/Export.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/WireFormat.h"

namespace drav {
namespace feed {

enum class ValueKind {
  kNumber,  // a double (weekday and month numbers too)
  kString,  // bytes padded with blanks or cut to the width
  kDate,    // seconds since 1970-01-01, written as an ISO 8601 date or date-time
  kTime,    // seconds, written as a time of day or a duration hh:mm[:ss]
};

struct FeedVariable {
  std::string name;    // as the plug-in keeps it (cut to 64 bytes)
  std::string format;  // the format word as written
  ValueKind kind;
  int stringWidth;  // 0 for every kind but kString
  int type;         // the format type code, width and decimals the plug-in reads
  int width;
  int decimals;
};

// A list the plug-in would refuse: what() is the plug-in's message, "[" id
// "] " first, with the texts of the catalogs the library was built with.
class DRAV_FEED_API VariableListError : public InputError {
 public:
  VariableListError(unsigned int messageId, const std::string& message)
      : InputError(message), messageId_(messageId) {}
  unsigned int MessageId() const { return messageId_; }

 private:
  unsigned int messageId_;
};

class DRAV_FEED_API VariableList {
 public:
  // Throws VariableListError for a list the plug-in refuses, and InputError
  // for one without variables (there would be nothing to serve).
  static VariableList Parse(const std::string& text);

  const std::vector<FeedVariable>& Variables() const { return variables_; }
  const FeedVariable& operator[](std::size_t column) const { return variables_[column]; }
  std::size_t size() const { return variables_.size(); }
  const wire::CaseLayout& Layout() const { return layout_; }
  std::size_t RecordBytes() const { return layout_.RecordBytes(); }
  // The warnings the plug-in gives on this list (a name cut to 64 bytes), as
  // complete messages.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::vector<FeedVariable> variables_;
  wire::CaseLayout layout_;
  std::vector<std::string> warnings_;
};

}  // namespace feed
}  // namespace drav
