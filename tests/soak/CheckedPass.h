#pragma once
// Opening a stream as a host does (the command text through the plug-in's
// entry point, the source taken from the registry) and reading passes of
// generated cases, checking every case on the way.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/OBS.h"
#include "tests/soak/ExpectedCases.h"
#include "tests/soak/Soak.h"

namespace drav {
namespace soak {

// Where a soak run's feeder serves: a data pipe (and a rewind pipe, or
// none) or a loopback port.
struct StreamPlace {
  static StreamPlace Pipe(std::string dataPipe, std::string rewindPipe = "") {
    StreamPlace place;
    place.dataPipe = std::move(dataPipe);
    place.rewindPipe = std::move(rewindPipe);
    return place;
  }
  static StreamPlace Socket(int port, bool rewindable) {
    StreamPlace place;
    place.transport = Transport::kSocket;
    place.port = port;
    place.rewindable = rewindable;
    return place;
  }

  Transport transport = Transport::kPipe;
  std::string dataPipe;
  std::string rewindPipe;  // empty: not rewindable
  int port = 0;
  bool rewindable = false;  // socket streams
};

// The command for `place` with the soak variables; SEEKABLE when `seekable`.
std::string StreamCommand(const StreamPlace& place, bool seekable);

// Runs `command` through ProcessDACSyntax and takes the source it
// registered. Throws SoakFailure with the plug-in's message when refused.
std::unique_ptr<DRAV_DataSource> OpenSoakSource(const std::string& command);

// Reads with `it` until the end of the data, checking that the cases are
// first, first + 1, ...; calls `onCase` (when given) after each case with
// the number of cases read so far. Returns that number.
std::int64_t ReadChecked(DRAV_InputCaseIterator& it, const OBS& obs, ExpectedCases& expected,
                         std::int64_t first, const std::string& where,
                         const std::function<void(std::int64_t)>& onCase = nullptr);

}  // namespace soak
}  // namespace drav
