#pragma once
// dravfeed's command line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CsvOptions.h"
#include "tools/dravfeed/NatsOptions.h"

namespace dravfeed {

struct FeedOptions {
  std::string pipePath, rewindPipePath;
  bool useSocket = false;
  int port = 0;
  std::string bindAddress;
  std::string variables;
  std::string csvPath;  // "-" is standard input
  bool header = false;
  drav::feed::CsvOptions csv;  // --delimiter, --skip, ...; its header is --header
  std::int64_t inferRows = 0;  // records the inferred list rests on; 0: the whole file
  bool inferRowsGiven = false;
  bool printCommand = false;  // the GET DATA command on standard output once reachable
  bool follow = false;  // --csv FILE grows: read on at its end, as tail -f
  bool generate = false;
  std::int64_t generateCount = 0;
  double rate = 0;  // generated cases per second; 0: all at once
  std::string replayPath, capturePath;
  std::string fromUrl;     // serve a JetStream stream: nats://HOST:PORT/STREAM
  std::string publishUrl;  // append the cases to one instead of serving them
  bool create = false;     // with --publish: make the stream unless it exists
  bool snapshot = false;   // with --from: the default; said aloud
  NatsOptions nats;        // credentials, --create's settings, --info, --start
  std::size_t memoryBytes = std::size_t{64} << 20;  // of live cases kept in memory
  drav::feed::ByteOrder order = drav::feed::ByteOrder::kNative;
  int lingerMs = 2000;
  bool forever = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Throws std::invalid_argument with a message naming the option.
FeedOptions ParseFeedOptions(int argc, char** argv);
const char* HelpText();

}  // namespace dravfeed
