#pragma once
// Prints the running summary of a pass every so many seconds while the pass
// runs, so that a live stream, whose pass may never end, shows its
// statistics. It looks at the clock after each case, so an idle stream
// (whose summary does not change) prints nothing until its next case.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "tools/dravrun/Summary.h"

namespace dravrun {

class SummaryTicker {
 public:
  using Clock = std::chrono::steady_clock;

  // `out` is not owned. A ticker of 0 seconds is disabled and does nothing.
  SummaryTicker(std::FILE* out, double seconds);

  bool Enabled() const { return enabled_; }
  void StartPass();
  // Called after every case with the pass's summary and count so far.
  void Update(Summary& summary, std::int64_t cases) {
    if (enabled_) MaybePrint(summary, cases);
  }

 private:
  void MaybePrint(Summary& summary, std::int64_t cases);

  std::FILE* out_;
  bool enabled_;
  Clock::duration interval_;
  Clock::time_point due_;
};

}  // namespace dravrun
