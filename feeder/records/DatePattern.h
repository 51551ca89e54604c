#pragma once
// Dates written the way a file has them, read by a strptime-like pattern
// such as "%d-%b-%y" (07-Dec-26) or "%Y-%m-%d %H:%M:%S". Unlike strptime it
// needs no locale: month names are English, in any case, and the rules are
// the same on every machine.
//
//   %Y  year, 1 to 4 digits        %y  year in 2 digits: 69-99 are 1969-1999,
//   %m  month, 1 or 2 digits           00-68 are 2000-2068 (as POSIX)
//   %d  day, 1 or 2 digits (%e)    %b  month name, "Dec" or "December" (%B %h)
//   %H  hour 0-23                  %I  hour 1-12, with %p (AM or PM)
//   %M  minute                     %S  second; %f its fraction's digits
//   %F  %Y-%m-%d                   %T  %H:%M:%S
//   %%  a percent sign; a blank matches any run of blanks (or none); any
//       other character matches itself.
// The year is required; a missing month or day is 1, a missing time 00:00.
#include <string>
#include <string_view>
#include <vector>

namespace drav {
namespace feed {

class DatePattern {
 public:
  // Throws InputError saying what is wrong with the pattern.
  explicit DatePattern(const std::string& pattern);

  // Seconds since 1970-01-01T00:00:00 for `text`, which must match the
  // whole pattern. Throws InputError quoting the text.
  double Seconds(std::string_view text) const;
  const std::string& Text() const { return text_; }

 private:
  enum class Field {
    kLiteral, kBlanks, kYear, kYear2, kMonth, kMonthName, kDay,
    kHour, kHour12, kAmPm, kMinute, kSecond, kFraction,
  };
  struct Step {
    Field field;
    char literal;
  };
  struct Parts;

  void Add(char directive);
  bool Read(const Step& step, std::string_view text, std::size_t& pos, Parts& parts) const;

  std::string text_;
  std::vector<Step> steps_;
};

}  // namespace feed
}  // namespace drav
