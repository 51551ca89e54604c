#pragma once
// Serves cases through named pipes: a data pipe the reader reads records
// from, and optionally a rewind pipe through which it sends "RWND" and
// "SEEK".
//
// The reader opens the data pipe's path once after each "RWND" or "SEEK",
// without retrying, and removes the path's file when a pass ends (unless the
// path no longer names the pipe it opened). So a fresh, empty pipe must stand
// at the path whenever the reader may open it, and the reader must never be
// able to re-open the pipe it is already reading.
//
// The server keeps that true with the rewind pipe's read end as a gate: a
// reader can only deliver a message while somebody reads the rewind pipe.
// Two invariants follow, and no timing decides correctness:
//   - the data pipe's write end is opened (which completes the reader's
//     open) only while the gate is closed, and a fresh FIFO is renamed over
//     the path before the gate opens again;
//   - the gate is open only while the pipe at the path is one the reader
//     has not opened.
// A reader blocked in its open of the data pipe can only be noticed by
// opening the write end, so the server "tries" that now and then: after the
// reader's rewind check or message (it is on its way), and, while no reader
// is known, every few milliseconds for a reader that has no rewind pipe.
// docs/PROTOCOL.md tells feeder authors the same, with a diagram.
//
// A source that grows is served as it grows: each case goes out as soon as
// it is there (all that are waiting in one write), and a pass ends when the
// source's input has ended and every case is sent. While it waits for more,
// the server keeps watching the gate and the reader's end of the pipe.
//
// The server creates both FIFOs (replacing a stale FIFO, refusing any other
// kind of file) and removes every FIFO it made when it is destroyed. It
// borrows the source, which must outlive it. Writing to a reader that has
// gone away never raises SIGPIPE.
#include <memory>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/ServeOptions.h"

namespace drav {
namespace feed {

class DRAV_FEED_API PipeServer {
 public:
  // Creates the FIFOs; `rewindPath` may be empty (no rewinds, no seeks).
  // Throws FeederError.
  PipeServer(CaseSource& source, ByteOrder order, std::string dataPath,
             std::string rewindPath, ServeOptions options);
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Serves until the reader is done (see ServeOptions::lingerMs; without a
  // rewind pipe the reader is done after its one pass) or until cancelled.
  // Throws FeederError when a pipe fails in a way no reader can mend.
  ServeStats Serve();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace feed
}  // namespace drav
