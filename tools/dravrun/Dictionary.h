#pragma once
// The dictionary dravrun prints before the cases (--dictionary): each
// variable's name and format, as aligned text or as one JSON document that
// also says where each value lies in a raw record (--output raw) and which
// numpy dtype reads it.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dravrun/Columns.h"

namespace dravrun {

void PrintTextDictionary(const std::vector<Column>& columns, std::FILE* out);

// {"record_bytes": N, "byte_order": "little", "columns": [{"name": ...,
// "format": "F8.2", "offset": 0, "width": 8, "dtype": "<f8"}, ...]}: the
// offsets and widths in bytes of the records --output raw writes for these
// columns, in this order.
std::string JsonDictionary(const std::vector<Column>& columns);

}  // namespace dravrun
