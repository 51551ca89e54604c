#include "feeder/GeneratedCases.h"

#include <cmath>
#include <limits>
#include <string>

namespace drav {
namespace feed {

double GeneratedCases::NumberAt(ValueKind kind, std::size_t column, std::int64_t i) {
  switch (kind) {
    case ValueKind::kDate:
      return kFirstDate + 60.0 * static_cast<double>(i);
    case ValueKind::kTime:
      return static_cast<double>((i % 1440) * 60);
    default:
      if (i % 7 == 6 && column % 2 == 1) return std::numeric_limits<double>::quiet_NaN();
      return static_cast<double>(i) + static_cast<double>(column) / 4.0;
  }
}

void GeneratedCases::RenderOne(std::int64_t i, char* record) const {
  const VariableList& list = builder_.List();
  for (std::size_t column = 0; column < list.size(); ++column) {
    ValueKind kind = list[column].kind;
    if (kind == ValueKind::kString)
      builder_.SetString(record, column, "c" + std::to_string(i));
    else
      builder_.SetNumber(record, column, NumberAt(kind, column, i));
  }
}

void GeneratedCases::Render(std::int64_t first, std::int64_t count, char* out) const {
  std::size_t bytes = RecordBytes();
  for (std::int64_t k = 0; k < count; ++k) RenderOne(first + k, out + k * bytes);
}

}  // namespace feed
}  // namespace drav
