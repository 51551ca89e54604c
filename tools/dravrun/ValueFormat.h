#pragma once
// Renders case values with a variable's print format.
//
// Numeric values never come out wider than the format's width: a value that
// does not fit first loses decimals (and digit grouping), then switches to E
// notation, and only when even that does not fit shows as asterisks, so a
// column never overflows. Missing values (NaN) render as an empty text.
// Date and time formats read seconds since 1970-01-01T00:00:00 (plain UTC
// arithmetic); fields finer than the format shows are cut, never rounded up,
// so 23:59:59.9 stays on its day. WKDAY and MONTH read a weekday number
// (1 = Sunday) and a month number (1 = January).
#include <cstddef>
#include <string>

namespace dravrun {

struct PrintFormat {
  int type = 5;  // a DRAV_FormatType code
  int width = 8;
  int decimals = 2;
};

// The longest text RenderNumber writes into a caller's buffer, scratch
// included (any double in fixed notation with all its digits, grouped).
constexpr std::size_t kMaxNumberText = 512;

// Writes `value` rendered in `format` (no padding) at `out`, which has room
// for kMaxNumberText bytes, and returns the end of the text. Allocates
// nothing: this is what the writers call for every value.
char* RenderNumber(double value, const PrintFormat& format, char* out);
// Replaces `out` with `value` rendered in `format` (no padding).
void RenderNumber(double value, const PrintFormat& format, std::string& out);
// The `length` bytes of a string value: A shows them with trailing blanks
// trimmed, AHEX as two upper-case hex digits per byte. The first form writes
// at `out` (room for 2 * length bytes) and returns the end; the second
// replaces `out`.
char* RenderString(const char* bytes, std::size_t length, const PrintFormat& format, char* out);
void RenderString(const char* bytes, std::size_t length, const PrintFormat& format,
                  std::string& out);

// True for the date, time and duration formats (their values are seconds).
bool IsDateTimeFormat(int type);
// True for the string formats A and AHEX.
bool IsStringFormat(int type);
// The format as the command language writes it, e.g. "F8.2", "A20", "DATE11".
std::string FormatName(const PrintFormat& format);

// Rendering helpers shared by the number and date renderers; each writes at
// `out` (room for kMaxNumberText bytes) and returns the end of its text.
namespace detail {
// %.*f of `value` with 0 to 40 decimals, rounded exactly as printf does.
char* Fixed(double value, int decimals, char* out);
// `width` asterisks: the value does not fit.
char* Asterisks(int width, char* out);
char* RenderPlainNumber(double value, const PrintFormat& format, char* out);
char* RenderDateTime(double seconds, const PrintFormat& format, char* out);
}  // namespace detail

}  // namespace dravrun
