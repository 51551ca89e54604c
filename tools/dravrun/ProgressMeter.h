#pragma once
// Shows the number of cases read and the rate on standard error, at most
// about ten times a second, on one line that is rewritten in place on a
// terminal and appended to elsewhere.
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace dravrun {

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{100};

  // `err` is not owned. A disabled meter does nothing at all.
  ProgressMeter(std::FILE* err, bool enabled, bool terminal);

  bool Enabled() const { return enabled_; }
  void StartPass();
  // Called after every case with the pass's count so far.
  void Update(std::int64_t cases) {
    if (enabled_) MaybeShow(cases);  // a clock read costs far less than a record read
  }
  // Removes the progress line before the pass's closing message.
  void EndPass();

 private:
  void MaybeShow(std::int64_t cases);

  std::FILE* err_;
  bool enabled_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point last_;
};

}  // namespace dravrun
