#include "feeder/records/DatePattern.h"

#include "base/CivilCalendar.h"
#include "dravfeed/FeederError.h"
#include "feeder/records/DateTimeText.h"
#include "feeder/records/QuotedText.h"

namespace drav {
namespace feed {
namespace {

const char* const kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                               "july",    "august",   "september", "october", "november", "december"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Lower(text[i]) != word[i]) return false;
  return true;
}

// One to `most` digits at `pos`, their value within [low, high].
bool Number(std::string_view text, std::size_t& pos, int most, long long low, long long high,
            long long& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < static_cast<std::size_t>(most) && text[pos] >= '0' &&
         text[pos] <= '9')
    value = value * 10 + (text[pos++] - '0');
  return pos > start && value >= low && value <= high;
}

bool MonthName(std::string_view text, std::size_t& pos, long long& month) {
  for (int i = 0; i < 12; ++i) {
    std::string_view name = kMonths[i];
    for (std::size_t length : {name.size(), std::size_t{3}}) {
      if (StartsWithIgnoringCase(text.substr(pos), name.substr(0, length))) {
        pos += length;
        month = i + 1;
        return true;
      }
    }
  }
  return false;
}

[[noreturn]] void RefusePattern(const std::string& why) { throw InputError(why); }

}  // namespace

struct DatePattern::Parts {
  long long year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  double fraction = 0;
  bool pm = false;
};

DatePattern::DatePattern(const std::string& pattern) : text_(pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == ' ' || c == '\t') {
      if (steps_.empty() || steps_.back().field != Field::kBlanks) steps_.push_back({Field::kBlanks, ' '});
    } else if (c != '%') {
      steps_.push_back({Field::kLiteral, c});
    } else if (++i == pattern.size()) {
      RefusePattern("ends with a lone %");
    } else {
      Add(pattern[i]);
    }
  }
  auto has = [&](Field field) {
    for (const Step& step : steps_)
      if (step.field == field) return true;
    return false;
  };
  if (!has(Field::kYear) && !has(Field::kYear2)) RefusePattern("has no year (%Y or %y)");
  if (has(Field::kHour12) != has(Field::kAmPm)) RefusePattern("needs %I and %p together");
  if (has(Field::kFraction) && !has(Field::kSecond)) RefusePattern("has %f (a fraction) but no %S");
}

void DatePattern::Add(char directive) {
  switch (directive) {
    case 'Y': steps_.push_back({Field::kYear, 0}); return;
    case 'y': steps_.push_back({Field::kYear2, 0}); return;
    case 'm': steps_.push_back({Field::kMonth, 0}); return;
    case 'b': case 'B': case 'h': steps_.push_back({Field::kMonthName, 0}); return;
    case 'd': case 'e': steps_.push_back({Field::kDay, 0}); return;
    case 'H': steps_.push_back({Field::kHour, 0}); return;
    case 'I': steps_.push_back({Field::kHour12, 0}); return;
    case 'p': steps_.push_back({Field::kAmPm, 0}); return;
    case 'M': steps_.push_back({Field::kMinute, 0}); return;
    case 'S': steps_.push_back({Field::kSecond, 0}); return;
    case 'f': steps_.push_back({Field::kFraction, 0}); return;
    case '%': steps_.push_back({Field::kLiteral, '%'}); return;
    case 'F':
      steps_.insert(steps_.end(), {{Field::kYear, 0}, {Field::kLiteral, '-'}, {Field::kMonth, 0},
                                   {Field::kLiteral, '-'}, {Field::kDay, 0}});
      return;
    case 'T':
      steps_.insert(steps_.end(), {{Field::kHour, 0}, {Field::kLiteral, ':'}, {Field::kMinute, 0},
                                   {Field::kLiteral, ':'}, {Field::kSecond, 0}});
      return;
    default: break;
  }
  RefusePattern("has %" + std::string(1, directive) +
                ", which it does not know (it knows %Y %y %m %d %e %b %B %h %H %I %p %M %S %f %F %T %%)");
}

bool DatePattern::Read(const Step& step, std::string_view text, std::size_t& pos, Parts& parts) const {
  switch (step.field) {
    case Field::kLiteral:
      if (pos == text.size() || text[pos] != step.literal) return false;
      ++pos;
      return true;
    case Field::kBlanks:
      while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
      return true;
    case Field::kYear: return Number(text, pos, 4, 0, 9999, parts.year);
    case Field::kYear2:
      if (!Number(text, pos, 2, 0, 99, parts.year)) return false;
      parts.year += parts.year < 69 ? 2000 : 1900;
      return true;
    case Field::kMonth: return Number(text, pos, 2, 1, 12, parts.month);
    case Field::kMonthName: return MonthName(text, pos, parts.month);
    case Field::kDay: return Number(text, pos, 2, 1, 31, parts.day);
    case Field::kHour: return Number(text, pos, 2, 0, 23, parts.hour);
    case Field::kHour12: return Number(text, pos, 2, 1, 12, parts.hour);
    case Field::kMinute: return Number(text, pos, 2, 0, 59, parts.minute);
    case Field::kSecond: return Number(text, pos, 2, 0, 59, parts.second);
    case Field::kAmPm:
      if (!StartsWithIgnoringCase(text.substr(pos), "am") && !StartsWithIgnoringCase(text.substr(pos), "pm"))
        return false;
      parts.pm = Lower(text[pos]) == 'p';
      pos += 2;
      return true;
    case Field::kFraction: {
      double scale = 0.1;
      std::size_t start = pos;
      while (pos < text.size() && pos - start < 9 && text[pos] >= '0' && text[pos] <= '9') {
        parts.fraction += (text[pos++] - '0') * scale;
        scale /= 10;
      }
      return pos > start;
    }
  }
  return false;
}

double DatePattern::Seconds(std::string_view text) const {
  Parts parts;
  std::size_t pos = 0;
  bool hour12 = false;
  for (const Step& step : steps_) {
    if (!Read(step, text, pos, parts))
      throw InputError(Quoted(text) + " does not match the date pattern " + text_);
    hour12 = hour12 || step.field == Field::kHour12;
  }
  if (pos != text.size()) throw InputError(Quoted(text) + " does not match the date pattern " + text_);
  if (hour12) parts.hour = parts.hour % 12 + (parts.pm ? 12 : 0);
  if (!IsCalendarDay(parts.year, parts.month, parts.day))
    throw InputError(Quoted(text) + " is not a day of the calendar");
  return DaysFromCivil(parts.year, static_cast<int>(parts.month), static_cast<int>(parts.day)) * 86400.0 +
         parts.hour * 3600.0 + parts.minute * 60.0 + static_cast<double>(parts.second) + parts.fraction;
}

}  // namespace feed
}  // namespace drav
