#pragma once
// What dravrun knows about each variable of the stream: its name, print
// format and where its value lies in a case record.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tools/dravrun/ValueFormat.h"

class DRAV_DataSource;

namespace dravrun {

struct Column {
  std::string name;
  PrintFormat format;
  int stringWidth = 0;  // bytes of a string value; 0 for a numeric variable
  bool IsString() const { return stringWidth > 0; }
};

// The columns of a source's dictionary, in order.
std::vector<Column> ColumnsOf(const DRAV_DataSource& source);

// One case as the writers see it: the address of each column's value,
// fixed for a whole pass (the case buffer does not move).
using CaseValues = std::vector<const char*>;

// A numeric value at an address that need not be aligned.
inline double NumberAt(const char* address) {
  double value;
  std::memcpy(&value, address, sizeof value);
  return value;
}

}  // namespace dravrun
