#pragma once
// Loads a whole CSV input into memory as case records, one record per CSV
// record, the fields in the order of the variables.
#include <istream>

#include "feeder/CaseSource.h"
#include "feeder/RecordBuilder.h"

namespace drav {
namespace feed {

// `header`: the first record names the columns and is skipped (its names are
// not checked, only their number). Throws
// InputError naming the line and column of the first bad record or value,
// e.g. "line 7, column 3 (temp): "abc" is not a number".
MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, bool header);

}  // namespace feed
}  // namespace drav
