#pragma once
// Exact text for case values (dravrun --exact): text that reads back to the
// very double the case held, whatever the variable's print format.
//
// Numbers are the shortest text that reads back to the same double
// (std::to_chars without a precision: "0.1", "123456789012345", "1e+300",
// "-0", "inf"). Dates are ISO 8601 ("2024-03-01", or "2024-03-01T12:30:05.25"
// when the value has a time of day; DATETIME always has one) and durations
// "[-]hh:mm:ss" with as many hours as they need; both carry exactly the
// fraction of a second the double holds, as many digits as it takes to read
// back the same value and no more. WKDAY and MONTH hold plain numbers.
#include <cstddef>

namespace dravrun {

// The longest text RenderExact writes.
constexpr std::size_t kMaxExactText = 64;

// Writes `value` (not NaN: a missing value is the writer's business) as
// exact text for a variable of format type `type` at `out`, which has room
// for kMaxExactText bytes; returns the end.
char* RenderExact(double value, int type, char* out);

// Which exact spelling a format type takes.
enum class ExactKind { kNumber, kDate, kDateTime, kDuration };
ExactKind ExactKindOf(int type);

}  // namespace dravrun
