#include "tools/dravrun/Dictionary.h"

#include <algorithm>

#include "tools/dravrun/CaseWriter.h"
#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/Utf8Text.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

// Raw records hold numbers in this machine's byte order.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// numpy's name for one value of the column: a double in this machine's
// byte order, or the string's bytes with their padding.
std::string NumpyType(const Column& c) {
  if (c.IsString()) return "|S" + std::to_string(c.SlotBytes());
  return kLittleEndian ? "<f8" : ">f8";
}

}  // namespace

void PrintTextDictionary(const std::vector<Column>& columns, std::FILE* out) {
  std::size_t nameWidth = 8;
  for (const Column& c : columns) nameWidth = std::max(nameWidth, DisplayWidth(c.name));
  std::fprintf(out, "%-*s  format\n", static_cast<int>(nameWidth), "variable");
  for (const Column& c : columns) {
    const std::string pad(nameWidth - DisplayWidth(c.name), ' ');
    std::fprintf(out, "%s%s  %s\n", c.name.c_str(), pad.c_str(), FormatName(c.format).c_str());
  }
}

std::string JsonDictionary(const std::vector<Column>& columns) {
  std::string entries;
  std::size_t offset = 0;
  for (const Column& c : columns) {
    if (!entries.empty()) entries += ", ";
    entries += "{\"name\": ";
    AppendJsonString(c.name, entries);
    entries += ", \"format\": \"" + FormatName(c.format) + "\", \"offset\": " + std::to_string(offset) +
               ", \"width\": " + std::to_string(c.SlotBytes()) + ", \"dtype\": \"" + NumpyType(c) + "\"}";
    offset += c.SlotBytes();
  }
  return "{\"record_bytes\": " + std::to_string(offset) + ", \"byte_order\": \"" +
         (kLittleEndian ? "little" : "big") + "\", \"columns\": [" + entries + "]}\n";
}

}  // namespace dravrun
