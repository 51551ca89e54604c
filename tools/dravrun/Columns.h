#pragma once
// What dravrun knows about each variable of the stream: its name, print
// format and where its value lies in a case record.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/WireFormat.h"
#include "tools/dravrun/ValueFormat.h"

class DRAV_DataSource;

namespace dravrun {

struct Column {
  std::string name;
  PrintFormat format;
  int stringWidth = 0;  // bytes of a string value; 0 for a numeric variable
  int position = 0;     // where the variable stands in the source's dictionary, from 0
  bool IsString() const { return stringWidth > 0; }
  // The bytes the value takes in a case record: whole 8-byte slots.
  std::size_t SlotBytes() const {
    return static_cast<std::size_t>(drav::wire::SlotsFor(stringWidth)) * drav::wire::kSlotBytes;
  }
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
