#pragma once
// Serves cases through named pipes: a data pipe the reader reads records
// from, and optionally a rewind pipe through which it sends "RWND" and
// "SEEK".
//
// The reader opens the data pipe's path once after each "RWND" or "SEEK",
// without retrying, and removes the path's file when a pass ends (unless the
// path no longer names the pipe it opened). So a fresh, empty pipe must stand
// at the path whenever the reader may open it: as soon as the reader has
// opened the current pipe, the server renames a new one over the path.
//
// The server creates both FIFOs (replacing a stale FIFO, refusing any other
// kind of file), keeps the rewind pipe open for reading the whole time, and
// removes every FIFO it made when it is destroyed. It borrows the source,
// which must outlive it. Writing to a reader that has gone away never raises
// SIGPIPE.
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

  void Cleanup();
  // Puts a new FIFO at `path` by renaming one made beside it.
  posix::FileId PlaceFreshFifo(const std::string& path);
  void OpenRewindPipe();
  void ReadControl();
  void Obey(const ControlMessage& message);
  void TryOpenData();
  void SendSome();
  void CheckDrained();
  void EndPass(const char* why);
  // Waits for the data pipe (`dataEvents`, when open) or a control message.
  void Wait(short dataEvents, int timeoutMs);
  void Event(const std::string& text) const;
  bool Cancelled() const;

  const CaseSource& source_;
  std::string dataPath_, rewindPath_;
  ServeOptions options_;
  ServeStats stats_;
  ControlDecoder control_;
  SendBatch batch_;
  posix::FileId dataId_, rewindId_;  // the FIFOs we placed last
  int rewindFd_ = -1;
  int rewindKeeper_ = -1;  // our own writer: the rewind pipe never reads as ended
  int dataFd_ = -1;
  Phase phase_ = Phase::kAwaitReader;
  std::int64_t nextCase_ = 0;
  std::int64_t deadlineMs_ = -1;  // when waiting for the reader ends; -1: never
  int openWaitMs_ = 1;
  unsigned tempCounter_ = 0;
  bool done_ = false;
};

// Milliseconds on a monotonic clock, for the servers' deadlines.
std::int64_t NowMs();

}  // namespace feed
}  // namespace drav
