#include "dravfeed/CaseSource.h"

#include <cstring>

namespace drav {
namespace feed {

char* MemoryCases::AddRecord() {
  records_.resize(records_.size() + recordBytes_);
  return records_.data() + records_.size() - recordBytes_;
}

std::int64_t MemoryCases::CaseCount() const {
  return static_cast<std::int64_t>(records_.size() / recordBytes_);
}

void MemoryCases::Render(std::int64_t first, std::int64_t count, char* out) {
  std::memcpy(out, records_.data() + static_cast<std::size_t>(first) * recordBytes_,
              static_cast<std::size_t>(count) * recordBytes_);
}

}  // namespace feed
}  // namespace drav
