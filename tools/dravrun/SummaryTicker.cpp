#include "tools/dravrun/SummaryTicker.h"

namespace dravrun {

SummaryTicker::SummaryTicker(std::FILE* out, double seconds)
    : out_(out),
      enabled_(seconds > 0),
      interval_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))) {}

void SummaryTicker::StartPass() { due_ = Clock::now() + interval_; }

void SummaryTicker::MaybePrint(Summary& summary, std::int64_t cases) {
  const Clock::time_point now = Clock::now();
  if (now < due_) return;
  // Skipped intervals are not made up for: one summary per wake is enough.
  while (due_ <= now) due_ += interval_;
  std::fprintf(out_, "summary after %lld cases\n", static_cast<long long>(cases));
  summary.Print(out_);
  std::fflush(out_);
}

}  // namespace dravrun
