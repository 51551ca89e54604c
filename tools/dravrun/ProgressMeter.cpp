#include "tools/dravrun/ProgressMeter.h"

namespace dravrun {

ProgressMeter::ProgressMeter(std::FILE* err, bool enabled, bool terminal)
    : err_(err), enabled_(enabled), terminal_(terminal) {}

void ProgressMeter::StartPass() {
  start_ = last_ = Clock::now();
  shown_ = false;
}

void ProgressMeter::MaybeShow(std::int64_t cases) {
  const Clock::time_point now = Clock::now();
  if (now - last_ < kInterval) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(cases) / seconds : 0.0;
  std::fprintf(err_, terminal_ ? "\r%lld cases, %.0f cases/s\033[K" : "%lld cases, %.0f cases/s\n",
               static_cast<long long>(cases), rate);
  std::fflush(err_);
  shown_ = true;
}

void ProgressMeter::EndPass() {
  if (enabled_ && shown_ && terminal_) {
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
  }
  shown_ = false;
}

}  // namespace dravrun
