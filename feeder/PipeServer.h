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
#include <cstdint>
#include <string>

#include "feeder/ByteOrder.h"
#include "feeder/CaseSource.h"
#include "feeder/ControlDecoder.h"
#include "feeder/PosixIo.h"
#include "feeder/SendBatch.h"
#include "feeder/ServeOptions.h"

namespace drav {
namespace feed {

class PipeServer {
 public:
  // Creates the FIFOs; `rewindPath` may be empty (no rewinds, no seeks).
  // Throws FeederError.
  PipeServer(const CaseSource& source, ByteOrder order, std::string dataPath,
             std::string rewindPath, ServeOptions options);
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Serves until the reader is done (see ServeOptions::lingerMs; without a
  // rewind pipe the reader is done after its one pass) or until cancelled.
  // Throws FeederError when a pipe fails in a way no reader can mend.
  ServeStats Serve();

 private:
  enum class Phase { kAwaitReader, kSending, kDraining };
  // What the server knows of the reader while no pass is running.
  enum class Reader {
    kUnknown,        // none yet, or the last one is done: try every few ms
    kChecked,        // a writer came and went unheard: a rewind check, most likely
    kComing,         // a message came: the reader opens the data pipe next
    kBetweenPasses,  // its pass ended; only a message brings it back
  };

  void Cleanup();
  // Puts a new FIFO at `path` by renaming one made beside it.
  posix::FileId PlaceFreshFifo(const std::string& path);

  // The gate: our read end of the rewind pipe. All three do nothing when
  // there is no rewind pipe.
  void OpenGate();
  void CloseGate();
  // Swaps the read end for a new one without ever closing the gate, which
  // clears the hang-up a writer that came and went leaves behind.
  void RenewGate();
  // Whether some reader holds the rewind pipe open for writing right now.
  bool WriterAtGate();
  // Hands whatever the rewind pipe holds now to the control decoder.
  void TakeGateBytes();
  void ReadGate();
  void Obey(const ControlMessage& message);

  void AwaitReader();
  bool MayTryNow();
  // Closes the gate, opens the data pipe's write end if a reader waits in
  // its open, puts a fresh FIFO at the path, and opens the gate again.
  bool TryOpenData();
  bool OpenDataIfReaderWaits();
  void KeepFreshPipeAtPath();
  void SendSome();
  void CheckDrained();
  void EndPass(const char* why);
  // Waits for the data pipe (`dataEvents`, when open) or a control message,
  // and `forCases`, for more cases of a growing source.
  void Wait(short dataEvents, int timeoutMs, bool forCases = false);
  void Event(const std::string& text) const;
  bool Cancelled() const;

  const CaseSource& source_;
  std::string dataPath_, rewindPath_;
  ServeOptions options_;
  ServeStats stats_;
  ControlDecoder control_;
  SendBatch batch_;
  posix::FileId dataId_, rewindId_;  // the FIFOs we placed last
  int gateFd_ = -1;
  int dataFd_ = -1;
  Phase phase_ = Phase::kAwaitReader;
  Reader reader_ = Reader::kUnknown;
  std::int64_t nextCase_ = 0;
  std::int64_t nextTryMs_ = 0;
  int tryPauseMs_ = 0;
  std::int64_t lingerEndsMs_ = -1;  // when a reader between passes counts as done
  unsigned tempCounter_ = 0;
  bool done_ = false;
};

// Milliseconds on a monotonic clock, for the servers' deadlines.
std::int64_t NowMs();

}  // namespace feed
}  // namespace drav
