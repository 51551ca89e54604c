#pragma once
// Which variables dravrun shows (--columns): names and positions counted
// from 1, alone or as ranges, in the order given, e.g. "id,3-5,temp-wind".
// A variable may be chosen more than once. The list's form is checked when
// the options are read; names and positions are matched against the
// stream's dictionary once the command has been accepted.
#include <string>
#include <vector>

#include "tools/dravrun/Columns.h"

namespace dravrun {

// Empty when `list` is well formed, else the message (naming --columns).
std::string CheckColumnList(const std::string& list);

// The columns of `all` that `list` chooses. False, with the message in
// `error`, for a name no variable has (the message lists the variables) or
// a position beyond the last one.
bool SelectColumns(const std::string& list, const std::vector<Column>& all, std::vector<Column>& chosen,
                   std::string& error);

}  // namespace dravrun
