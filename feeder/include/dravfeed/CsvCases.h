#pragma once
// CSV records turned into case records, one record per CSV record.
#include <istream>
#include <memory>
#include <string>

#include "dravfeed/CaseSource.h"
#include "dravfeed/CsvOptions.h"
#include "dravfeed/Export.h"
#include "dravfeed/RecordBuilder.h"

namespace drav {
namespace feed {

// Reads case after case from a CSV input written as `options` say.
//
// Without a header the fields are the variables, in their order. With one,
// each variable takes the column that bears its name; the header may name
// other columns, in any order, and their fields are skipped (a record may
// stop short of those past the last column a variable takes). Names match
// ignoring ASCII case and the blanks around them; failing that, a column
// matches when its name, with each run of characters a variable name cannot
// hold (blanks, punctuation) read as one "_" and those at its ends dropped,
// does: "Adj Close" is adj_close's column, "Price ($)" is price's.
//
// A record may take twice the bytes its values can need (a string's width,
// 64 bytes for any other value), 64 more per column and at least 1 MiB,
// and 64 fields more than the columns: a longer line is refused before it
// is read whole.
//
// Borrows the stream and the builder, which must outlive it.
class DRAV_FEED_API CsvCaseReader {
 public:
  // Throws InputError for options that cannot be (a bad date pattern).
  CsvCaseReader(std::istream& in, const RecordBuilder& builder, const CsvOptions& options);

  // Builds the next case into `record` (RecordBytes() of the list); false at
  // the end of the input. Throws InputError naming the line and column of
  // the first bad record or value, e.g. "line 7, column 3 (temp): "abc" is
  // not a number"; `record` is then unspecified.
  bool Next(char* record);
  // Whether the last case read was cut by the end of the input (its line
  // has no end), and the line it starts on.
  bool CutByEnd() const;
  long Line() const;

  ~CsvCaseReader();
  CsvCaseReader(const CsvCaseReader&) = delete;
  CsvCaseReader& operator=(const CsvCaseReader&) = delete;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Loads a whole CSV input into memory, as CsvCaseReader reads it.
DRAV_FEED_API MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, const CsvOptions& options);

}  // namespace feed
}  // namespace drav
