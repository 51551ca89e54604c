#pragma once
// Reads comma-separated records as RFC 4180 writes them: fields in double
// quotes may hold commas, line ends and doubled quotes (""), and records end
// with CRLF or LF. An empty line is no record, a UTF-8 byte-order mark at the
// start is skipped, and the last record may lack its line end.
//
// The reader borrows the stream; the stream must outlive it.
#include <istream>
#include <string>
#include <vector>

namespace drav {
namespace feed {

class CsvReader {
 public:
  explicit CsvReader(std::istream& in);

  // The next record's fields; false at the end of the input. Throws
  // InputError naming the line and column (field number) of a quote out of
  // place or of a quoted field that is never closed.
  bool Next(std::vector<std::string>& fields);
  // The line on which each field of the last record starts (1-based; a quoted
  // line end counts as a line).
  const std::vector<long>& FieldLines() const { return fieldLines_; }
  // Whether the last record was cut by the end of the input (no line end
  // after it): a live input that stops mid-line ends with one.
  bool CutByEnd() const { return cutByEnd_; }

 private:
  int Peek();
  int Take();
  // Reads one field; returns what ended it: ',', '\n' or EOF.
  int ReadField(std::string& field, long column);
  int ReadQuoted(std::string& field, long column);
  int ReadPlain(std::string& field, long column);
  // Takes a line end at the current place (LF or CRLF); false if none.
  bool TakeLineEnd();
  [[noreturn]] void Refuse(long line, long column, const std::string& why) const;

  std::streambuf* in_;
  std::string held_;
  long line_ = 1;
  bool started_ = false;
  bool cutByEnd_ = false;
  std::vector<long> fieldLines_;
};

}  // namespace feed
}  // namespace drav
