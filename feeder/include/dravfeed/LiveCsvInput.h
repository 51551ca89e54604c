#pragma once
// Reads CSV text as it arrives (standard input, a pipe, a socket, a file
// that is still being written) and adds its cases to a case log. Every case
// whose line has ended is published before the reader waits for more input,
// so a case is served as soon as its line is there, and the cases of a large
// read go out together.
#include <atomic>
#include <cstdint>

#include "dravfeed/CaseLog.h"
#include "dravfeed/CsvOptions.h"
#include "dravfeed/Export.h"
#include "dravfeed/RecordBuilder.h"

namespace drav {
namespace feed {

struct LiveInputOptions {
  CsvOptions csv;  // how the input is written (delimiter, header, ...)
  // At the end of a regular file, wait for more as `tail -f` does; the
  // input then never ends by itself.
  bool follow = false;
  // Set from another thread to make the reading stop within 100 ms.
  const std::atomic<bool>* stop = nullptr;
};

struct LiveInputResult {
  std::int64_t cases = 0;
  // Ended by the stop flag. A last line without a line end is a case when
  // the input ends by itself (files and pipes often end so), never when a
  // stop cut it.
  bool stopped = false;
};

// Reads `fd` (not owned) until the input ends or `stop` is set, then ends
// the log's input. Throws InputError for bad CSV data (every case before the
// bad one is published first, and the log's input is ended as broken),
// FeederError when reading fails.
DRAV_FEED_API LiveInputResult ReadLiveCsv(int fd, const RecordBuilder& builder, CaseLog& log,
                            const LiveInputOptions& options);

}  // namespace feed
}  // namespace drav
