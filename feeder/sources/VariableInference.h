#pragma once
// Proposes a variable list for CSV columns from a header and a sample of
// records, so that a file can be served without typing its list.
//
// Each column gets the narrowest proposal that holds every value of the
// sample exactly (empty fields are missing values and fit anything):
//   - numbers: F as wide as the digits when every one is a whole number a
//     double holds exactly (up to 2^53), else F40.16 (the most decimals the
//     host keeps); a column with no value at all is F40.16 too;
//   - ISO 8601 dates and date-times: DATE11 when every one is a midnight,
//     else DATETIME23.2;
//   - times and durations (hh:mm[:ss[.f]]): TIME11.2;
//   - anything else: A as wide as the longest value in bytes.
// Names come from the header by MakeVariableName. The Python package's
// variables_for gives the same list for the same values.
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "dravfeed/CsvOptions.h"

namespace drav {
namespace feed {

class DatePattern;

// A valid variable name for a column label, unlike every name in `taken`
// (kept in upper case; the new name is added). Characters other than
// letters, digits, "_" and "." become "_"; a name that does not start with
// a letter gets a "v" in front; it is cut to 64 bytes (never inside a
// character) and loses trailing dots; a reserved word of the command
// language gets a "_" after it; a name taken already gets "_2", "_3", ...
std::string MakeVariableName(const std::string& label, std::set<std::string>& taken);

class VariableInference {
 public:
  // One column per header name.
  explicit VariableInference(const std::vector<std::string>& header);

  // Takes one record of the sample. Throws InputError when its number of
  // fields is not the header's.
  void Add(const std::vector<std::string>& fields);
  // Dates are read by this pattern only (as the serving will read them);
  // null: ISO 8601 text. The pattern must outlive the inference.
  void ReadDatesBy(const DatePattern* pattern) { datePattern_ = pattern; }
  std::size_t Records() const { return records_; }

  // The list, "name FORMAT name FORMAT ...". Throws InputError when a
  // string is wider than any variable can be.
  std::string ListText() const;

 private:
  struct Column {
    bool number = true, whole = true, date = true, midnight = true, time = true;
    double low = 0, high = 0;
    bool seen = false;
    std::size_t longest = 0;
  };
  void AddValue(Column& column, const std::string& text) const;
  bool ParsesAsDate(const std::string& text, double& value) const;
  static std::string FormatOf(const Column& column);

  std::vector<std::string> names_;
  std::vector<Column> columns_;
  std::size_t records_ = 0;
  const DatePattern* datePattern_ = nullptr;
};

struct InferredList {
  std::string text;     // "name FORMAT ..."
  std::size_t records;  // how many records the proposal rests on
};

// Reads the header and up to `sampleRows` records (0: all of them) of the
// CSV file at `path` and proposes its list. Throws InputError when the file
// cannot be read, holds no header or a record the header does not fit.
// The CSV options are those the file will be served with, so the sample is
// read as the cases will be: its delimiter, preamble, comments, null texts
// and date pattern.
InferredList InferCsvVariables(const std::string& path, std::size_t sampleRows, const CsvOptions& csv);

}  // namespace feed
}  // namespace drav
