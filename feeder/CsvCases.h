#pragma once
// CSV records turned into case records, one record per CSV record, the
// fields in the order of the variables.
#include <istream>
#include <string>
#include <vector>

#include "feeder/CaseSource.h"
#include "feeder/CsvReader.h"
#include "feeder/RecordBuilder.h"

namespace drav {
namespace feed {

// Reads case after case from a CSV input. `header`: the first record names
// the columns and is skipped (its names are not checked, only their
// number). Borrows the stream and the builder, which must outlive it.
class CsvCaseReader {
 public:
  CsvCaseReader(std::istream& in, const RecordBuilder& builder, bool header);

  // Builds the next case into `record` (RecordBytes() of the list); false at
  // the end of the input. Throws InputError naming the line and column of
  // the first bad record or value, e.g. "line 7, column 3 (temp): "abc" is
  // not a number"; `record` is then unspecified.
  bool Next(char* record);
  // Whether the last case read was cut by the end of the input (its line
  // has no end), and the line it starts on.
  bool CutByEnd() const { return reader_.CutByEnd(); }
  long Line() const { return reader_.FieldLines().empty() ? 0 : reader_.FieldLines().front(); }

 private:
  void SkipHeader();

  CsvReader reader_;
  const RecordBuilder& builder_;
  bool header_;
  std::vector<std::string> fields_;
};

// Loads a whole CSV input into memory, as CsvCaseReader reads it.
MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, bool header);

}  // namespace feed
}  // namespace drav
