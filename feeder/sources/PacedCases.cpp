#include "dravfeed/PacedCases.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace drav {
namespace feed {
namespace {

// At full speed, cases go out in batches of about this many bytes.
constexpr std::int64_t kBatchBytes = 256 << 10;

std::int64_t DueBy(std::chrono::steady_clock::time_point start, double rate, std::int64_t total) {
  if (rate <= 0) return total;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return std::min<std::int64_t>(total, static_cast<std::int64_t>(seconds * rate) + 1);
}

}  // namespace

std::int64_t FeedPaced(CaseSource& from, double rate, CaseLog& log,
                       const std::atomic<bool>* stop) {
  const std::int64_t total = from.CaseCount();
  const std::int64_t batch = std::max<std::int64_t>(1, kBatchBytes / log.RecordBytes());
  const auto start = std::chrono::steady_clock::now();
  std::int64_t added = 0;
  try {
    while (added < total && !(stop && stop->load())) {
      const std::int64_t due = std::min(DueBy(start, rate, total), added + batch);
      if (due > added) {
        log.AddRendered(from, added, due - added);
        log.Publish();
        added = due;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  } catch (...) {
    EndBroken(log);
    throw;
  }
  log.EndInput();
  return added;
}

}  // namespace feed
}  // namespace drav
