#include "feeder/serving/SendBatch.h"

#include <algorithm>
#include <cstring>

namespace drav {
namespace feed {

void SendBatch::Restart(std::int64_t first, const std::string& prefix) {
  source_.PassStarts();
  const bool grows = source_.MoreMayCome();
  const std::int64_t count = source_.CaseCount();
  nextCase_ = first < 0 || (first > count && !grows) ? count : first;
  buffer_.assign(prefix.begin(), prefix.end());
  begin_ = 0;
  end_ = buffer_.size();
}

void SendBatch::Refill() {
  std::int64_t left = source_.CaseCount() - nextCase_;
  if (begin_ != end_ || left <= 0) return;
  std::size_t recordBytes = source_.RecordBytes();
  std::int64_t cases = std::max<std::int64_t>(1, kTargetBytes / recordBytes);
  cases = std::min(cases, left);
  buffer_.resize(static_cast<std::size_t>(cases) * recordBytes);
  // A source that found its input broken renders fewer, and its count now
  // ends after them, so the pass ends there.
  cases = std::max<std::int64_t>(0, source_.RenderSome(nextCase_, cases, buffer_.data()));
  buffer_.resize(static_cast<std::size_t>(cases) * recordBytes);
  nextCase_ += cases;
  begin_ = 0;
  end_ = buffer_.size();
}

const char* SendBatch::Data() {
  Refill();
  return buffer_.data() + begin_;
}

std::size_t SendBatch::Size() {
  Refill();
  return end_ - begin_;
}

void SendBatch::Consume(std::size_t bytes) { begin_ += std::min(bytes, end_ - begin_); }

bool SendBatch::Finished() {
  // The order matters: once the source says no more comes, its count is final.
  const bool grows = source_.MoreMayCome();
  return Size() == 0 && !grows && nextCase_ >= source_.CaseCount();
}

bool SendBatch::Waiting() { return Size() == 0 && !Finished(); }

}  // namespace feed
}  // namespace drav
