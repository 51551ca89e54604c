#include "dravfeed/RecordBuilder.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "base/Utf8.h"
#include "dravfeed/FeederError.h"
#include "feeder/records/DateTimeText.h"
#include "feeder/records/QuotedText.h"

namespace drav {
namespace feed {
namespace {

std::string_view Trim(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A whole decimal number, nothing else (from_chars alone would also take
// "inf", "nan" and hexadecimal-looking text).
bool TryNumber(std::string_view text, double& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text.find_first_not_of("+-.0123456789eE") != std::string_view::npos)
    return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// How many bytes of `text` fit in `width` without splitting a character.
std::size_t FittingBytes(std::string_view text, std::size_t width) {
  if (text.size() <= width) return text.size();
  std::string copy(text.substr(0, width + 4));  // NUL-terminated for CharLength
  std::size_t used = 0;
  while (used < width) {
    std::size_t step = utf8::CharLength(copy.c_str() + used);
    if (step == 0 || used + step > width) break;
    used += step;
  }
  return used;
}

}  // namespace

double ParseNumber(std::string_view text) {
  double value = 0;
  if (!TryNumber(Trim(text), value))
    throw InputError(Quoted(text) + " is not a number");
  return value;
}

void RecordBuilder::SetNumber(char* record, std::size_t column, double value) const {
  char* slot = record + list_.Layout().ByteOffset(column);
  std::memcpy(slot, &value, sizeof value);
  if (order_ == ByteOrder::kSwapped) Reverse8(slot);
}

void RecordBuilder::SetMissing(char* record, std::size_t column) const {
  SetNumber(record, column, std::numeric_limits<double>::quiet_NaN());
}

void RecordBuilder::SetString(char* record, std::size_t column, std::string_view text) const {
  const wire::CaseLayout& layout = list_.Layout();
  char* slot = record + layout.ByteOffset(column);
  // The blanks run to the end of the variable's last slot, not only to its
  // width, so that no byte of the record is left unset.
  std::size_t room = wire::SlotsFor(layout.StringWidth(column)) * wire::kSlotBytes;
  std::size_t used = FittingBytes(text, static_cast<std::size_t>(layout.StringWidth(column)));
  if (used > 0) std::memcpy(slot, text.data(), used);
  std::memset(slot + used, wire::kStringPad, room - used);
}

void RecordBuilder::SetText(char* record, std::size_t column, std::string_view text) const {
  const FeedVariable& variable = list_[column];
  if (variable.kind == ValueKind::kString) {
    if (fit_ == TextFit::kExact && text.size() > static_cast<std::size_t>(variable.stringWidth))
      throw InputError("\"" + std::string(text) + "\" is " + std::to_string(text.size()) +
                       " bytes, wider than its variable's " + std::to_string(variable.stringWidth));
    return SetString(record, column, text);
  }
  std::string_view trimmed = Trim(text);
  if (trimmed.empty()) return SetMissing(record, column);
  double value;
  if (variable.kind == ValueKind::kNumber)
    value = ParseNumber(trimmed);
  else if (fit_ == TextFit::kAdapt && TryNumber(trimmed, value))
    ;  // a date or time given as seconds
  else if (variable.kind == ValueKind::kDate)
    value = ParseDateSeconds(trimmed);
  else
    value = ParseTimeSeconds(trimmed);
  SetNumber(record, column, value);
}

}  // namespace feed
}  // namespace drav
