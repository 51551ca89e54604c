#pragma once
// Format tables of the parser, shared by the variable list and the format
// reader.
#include <cstdint>

#include "host/DravFormat.h"

struct DataTypeRow {
  const char* keyword;  // lower case
  std::int64_t code;    // the low 32 bits are the format type code
};

// Data-type keywords of the column-description operations, in lookup order.
extern const DataTypeRow dataTypeTable[21];
// F8.2, the default numeric format.
extern const DRAV_Format kDefaultFormat;
