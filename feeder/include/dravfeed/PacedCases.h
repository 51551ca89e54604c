#pragma once
// Feeds a case log from another source at a steady rate, as a live producer
// would: for demos, and for tests and benchmarks of live readers.
#include <atomic>
#include <cstdint>

#include "dravfeed/CaseLog.h"
#include "dravfeed/Export.h"

namespace drav {
namespace feed {

// Adds every case of `from` to `log`, `rate` cases per second (0: as fast as
// the log takes them), publishing what is due about every millisecond, then
// ends the log's input. Returns the cases added; stops early (and still ends
// the input) when `stop` is set. Throws FeederError from the log.
DRAV_FEED_API std::int64_t FeedPaced(CaseSource& from, double rate, CaseLog& log,
                       const std::atomic<bool>* stop = nullptr);

}  // namespace feed
}  // namespace drav
