#pragma once
// Reads delimited records as RFC 4180 writes them: fields in double quotes
// may hold delimiters, line ends and doubled quotes (""), and records end
// with CRLF or LF. An empty line is no record, a UTF-8 byte-order mark at the
// start is skipped, and the last record may lack its line end. The
// delimiter, comment lines and a preamble of lines to skip come from
// CsvOptions (its other fields are for CsvCaseReader).
//
// The reader borrows the stream; the stream must outlive it.
#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "dravfeed/CsvOptions.h"

namespace drav {
namespace feed {

class CsvReader {
 public:
  // Throws InputError when the delimiter or comment character cannot be one.
  explicit CsvReader(std::istream& in, const CsvOptions& options = CsvOptions());

  // The next record's fields; false at the end of the input. Throws
  // InputError naming the line and column (field number) of a quote out of
  // place, of a quoted field that is never closed, or of a record longer
  // than the limit.
  bool Next(std::vector<std::string>& fields);
  // The line on which each field of the last record starts (1-based; a quoted
  // line end counts as a line).
  const std::vector<long>& FieldLines() const { return fieldLines_; }
  // Whether each field of the last record was written in quotes (1) or
  // not (0).
  const std::vector<char>& FieldQuoted() const { return fieldQuoted_; }
  // Whether the last record was cut by the end of the input (no line end
  // after it): a live input that stops mid-line ends with one.
  bool CutByEnd() const { return cutByEnd_; }
  // A record longer than `bytes` (line ends and quotes included) or of more
  // than `fields` fields is refused as soon as it passes the limit, so a
  // runaway line is never held whole; the message ends with `why`.
  void SetRecordLimit(std::size_t bytes, std::size_t fields, std::string why);

 private:
  int Peek();
  int Take();
  void Start();
  void SkipLine();
  // Reads one field; returns what ended it: the delimiter, '\n' or EOF.
  int ReadField(std::string& field, long column);
  int ReadQuoted(std::string& field, long column);
  int ReadPlain(std::string& field, long column);
  void CheckLimit() {
    if (taken_ > recordEnd_) RefuseLongRecord();
  }
  [[noreturn]] void RefuseLongRecord() const;
  // Takes a line end at the current place (LF or CRLF); false if none.
  bool TakeLineEnd();
  [[noreturn]] void Refuse(long line, long column, const std::string& why) const;

  std::streambuf* in_;
  int delimiter_;
  int comment_;  // EOF when there are no comment lines
  long skipLines_;
  std::string held_;
  long line_ = 1;
  bool started_ = false;
  bool cutByEnd_ = false;
  std::size_t taken_ = 0, recordEnd_ = 0;  // bytes taken; the most the record may reach
  std::size_t limit_ = static_cast<std::size_t>(-1), fieldLimit_ = static_cast<std::size_t>(-1);
  std::string limitWhy_;
  std::vector<long> fieldLines_;
  std::vector<char> fieldQuoted_;
};

}  // namespace feed
}  // namespace drav
