#pragma once
// dravfeed's job from parsed options to an exit status: print a stream's
// state, replay a capture, publish to a JetStream stream, or serve cases.
#include "tools/dravfeed/FeedOptions.h"

namespace dravfeed {

enum ExitStatus : int {
  kDone = 0,     // the reader is done (or the cases are published)
  kRefused = 1,  // the variable list or the data was refused
  kUsage = 2,    // bad options
  kFailed = 3,   // serving, publishing or the source failed
};

// Installs the stop signals and runs; a signal that stopped it gives 128
// plus its number.
int RunFeeder(FeedOptions options);

}  // namespace dravfeed
