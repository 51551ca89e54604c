#pragma once
// The pipe server's workings behind dravfeed/PipeServer.h: the gate, the
// reader's states and the pass being sent (see that header for the rules).
#include <cstdint>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/PipeServer.h"
#include "dravfeed/ServeOptions.h"
#include "feeder/records/PosixIo.h"
#include "feeder/serving/ControlDecoder.h"
#include "feeder/serving/SendBatch.h"

namespace drav {
namespace feed {

class DRAV_FEED_HIDDEN PipeServer::Impl {
 public:
  Impl(CaseSource& source, ByteOrder order, std::string dataPath, std::string rewindPath,
       ServeOptions options);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

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

  CaseSource& source_;
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

}  // namespace feed
}  // namespace drav
