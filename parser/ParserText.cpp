#include "parser/ParserText.h"

#include <climits>
#include <cstdlib>

#include "base/VariableName.h"
#include "host/MultiByte.h"

namespace parser_text {

std::size_t CutAtCharBoundary(const char* src, std::size_t length, std::size_t limit) {
  return drav::name::CutAtCharBoundary(src, length, limit);
}

void CopyCut(char* dest, std::size_t capacity, const char* src, std::size_t length) {
  if (capacity == 0) return;
  std::size_t n = CutAtCharBoundary(src, length, capacity - 1);
  DRAVMBstrncpy_A(dest, src, n);
  dest[n] = '\0';
}

int ReadInt(const char* text) {
  // strtol saturates where atoi's behaviour is undefined; the saturated value
  // is then held within int.
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace parser_text
