#pragma once
// How a CSV input is written: the habits of the files users have (psql's
// \copy, spreadsheets, exports with a preamble), as one small option struct
// that every CSV reader of the library takes.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace drav {
namespace feed {

struct CsvOptions {
  char delimiter = ',';
  // Lines starting with this character are no records ('\0': none). Only a
  // line's first character counts, and never inside a quoted field.
  char comment = '\0';
  // Lines read and dropped before anything else (a preamble), whatever
  // they hold. Line numbers in messages still count them.
  long skipLines = 0;
  // The first record names the columns, and each variable takes the column
  // of its name (see CsvCaseReader); other columns are skipped.
  bool header = false;
  // The header's columns are the variables, in order (a list inferred from
  // this very header): it is skipped, and names are not matched again.
  bool headerInOrder = false;
  // Unquoted field texts (blanks around them aside) that stand for a
  // missing value, e.g. "NA" or "NULL". An empty field is always missing.
  std::vector<std::string> nullTexts;
  // Whether an unquoted field stands for a missing value by nullTexts.
  bool IsNullText(std::string_view field) const {
    const std::size_t first = field.find_first_not_of(" \t");
    if (first == std::string_view::npos) return false;
    const std::string_view text = field.substr(first, field.find_last_not_of(" \t") - first + 1);
    return std::find(nullTexts.begin(), nullTexts.end(), text) != nullTexts.end();
  }
  // A strptime-like pattern for the values of date variables, e.g.
  // "%d-%b-%y" (see DatePattern.h); empty: ISO 8601 text or seconds.
  std::string datePattern;
};

}  // namespace feed
}  // namespace drav
