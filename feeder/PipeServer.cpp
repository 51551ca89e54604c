#include "feeder/PipeServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

constexpr int kPipeBytes = 1 << 20;
constexpr int kMaxWaitMs = 100;
constexpr int kDrainCheckMs = 2;
// The reader may send "RWND" or "SEEK" and reopen the path right after it
// opened the current pipe; the fresh pipe must be in place by then, so the
// wait for that open stays short.
constexpr int kMaxOpenWaitMs = 1;

std::string TempNameBeside(const std::string& path, unsigned counter) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".dravfeed." + std::to_string(getpid()) + "." +
         std::to_string(counter);
}

void RefuseNonFifo(const std::string& path) {
  if (posix::Exists(path) && !posix::FifoIdOfPath(path).valid())
    throw FeederError(path + " exists and is not a named pipe; remove it or choose another path");
}

void RemoveIfOurs(const std::string& path, const posix::FileId& id) {
  if (id.valid() && posix::FifoIdOfPath(path) == id) std::remove(path.c_str());
}

}  // namespace

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

PipeServer::PipeServer(const CaseSource& source, ByteOrder order, std::string dataPath,
                       std::string rewindPath, ServeOptions options)
    : source_(source),
      dataPath_(std::move(dataPath)),
      rewindPath_(std::move(rewindPath)),
      options_(std::move(options)),
      control_(order),
      batch_(source) {
  if (dataPath_.empty()) throw FeederError("the data pipe needs a path");
  if (dataPath_ == rewindPath_) throw FeederError("the data and rewind pipes need two paths");
  RefuseNonFifo(dataPath_);
  if (!rewindPath_.empty()) RefuseNonFifo(rewindPath_);
  try {
    if (!rewindPath_.empty()) OpenRewindPipe();
    dataId_ = PlaceFreshFifo(dataPath_);
  } catch (...) {
    Cleanup();
    throw;
  }
}

PipeServer::~PipeServer() { Cleanup(); }

void PipeServer::Cleanup() {
  posix::Close(dataFd_);
  posix::Close(rewindFd_);
  posix::Close(rewindKeeper_);
  dataFd_ = rewindFd_ = rewindKeeper_ = -1;
  RemoveIfOurs(dataPath_, dataId_);
  RemoveIfOurs(rewindPath_, rewindId_);
  dataId_ = rewindId_ = posix::FileId();
}

posix::FileId PipeServer::PlaceFreshFifo(const std::string& path) {
  std::string temp;
  posix::Result made;
  do {
    temp = TempNameBeside(path, tempCounter_++);
    made = posix::MakeFifo(temp);
  } while (made.error == EEXIST);
  if (!made.ok()) throw SystemError("cannot create a named pipe beside " + path, made.error);
  posix::FileId id = posix::FifoIdOfPath(temp);
  posix::Result moved = posix::Rename(temp, path);
  if (!moved.ok()) {
    std::remove(temp.c_str());
    throw SystemError("cannot put a named pipe at " + path, moved.error);
  }
  return id;
}

void PipeServer::OpenRewindPipe() {
  rewindId_ = PlaceFreshFifo(rewindPath_);
  posix::Result reader = posix::Open(rewindPath_, O_RDONLY | O_NONBLOCK);
  if (!reader.ok())
    throw SystemError("cannot open " + rewindPath_, reader.error);
  rewindFd_ = static_cast<int>(reader.value);
  posix::Result keeper = posix::Open(rewindPath_, O_WRONLY | O_NONBLOCK);
  if (!keeper.ok())
    throw SystemError("cannot open " + rewindPath_, keeper.error);
  rewindKeeper_ = static_cast<int>(keeper.value);
}

void PipeServer::Event(const std::string& text) const {
  if (options_.onEvent) options_.onEvent(text);
}

bool PipeServer::Cancelled() const { return options_.cancel && *options_.cancel; }

ServeStats PipeServer::Serve() {
  while (!done_) {
    if (Cancelled()) {
      stats_.cancelled = true;
      break;
    }
    ReadControl();
    switch (phase_) {
      case Phase::kAwaitReader:
        TryOpenData();
        break;
      case Phase::kSending:
        SendSome();
        break;
      case Phase::kDraining:
        CheckDrained();
        break;
    }
  }
  return stats_;
}

void PipeServer::ReadControl() {
  if (rewindFd_ < 0) return;
  char bytes[256];
  for (;;) {
    posix::Result got = posix::Read(rewindFd_, bytes, sizeof bytes);
    if (got.value <= 0) break;  // EAGAIN: nothing more for now
    control_.Feed(bytes, static_cast<std::size_t>(got.value));
  }
  ControlMessage message;
  while (control_.Next(message)) Obey(message);
}

void PipeServer::Obey(const ControlMessage& message) {
  if (message.kind == ControlMessage::kRewind) {
    ++stats_.rewinds;
    nextCase_ = 0;
    Event("rewind");
  } else if (message.kind == ControlMessage::kSeek) {
    ++stats_.seeks;
    nextCase_ = message.caseNumber;
    Event("seek to case " + std::to_string(message.caseNumber));
  } else {
    Event("ignored an unknown control word");
    return;
  }
  // The reader has left the pipe it was reading and opens the one at the
  // path next; what the old pipe still holds is of no use to anyone.
  if (dataFd_ >= 0) {
    posix::Close(dataFd_);
    dataFd_ = -1;
  }
  phase_ = Phase::kAwaitReader;
  openWaitMs_ = 1;
  deadlineMs_ = options_.forever ? -1 : NowMs() + options_.lingerMs;
}

void PipeServer::TryOpenData() {
  if (deadlineMs_ >= 0 && NowMs() >= deadlineMs_) {
    done_ = true;
    return;
  }
  // Opening for writing without blocking succeeds only once the reader has
  // opened the pipe: that is how we learn it has.
  posix::Result opened = posix::Open(dataPath_, O_WRONLY | O_NONBLOCK);
  if (opened.error == ENOENT) {  // the reader removed it at the end of a pass
    dataId_ = PlaceFreshFifo(dataPath_);
    return;
  }
  if (opened.error == ENXIO) {  // no reader yet
    Wait(0, openWaitMs_);
    openWaitMs_ = std::min(openWaitMs_ * 2, kMaxOpenWaitMs);
    return;
  }
  if (!opened.ok()) throw SystemError("cannot open " + dataPath_, opened.error);
  int fd = static_cast<int>(opened.value);
  if (!posix::FifoIdOfFd(fd).valid()) {
    posix::Close(fd);
    throw FeederError(dataPath_ + " is no longer a named pipe");
  }
  // The fresh pipe goes in place first, before anything else: a reader that
  // asks for a seek right after this open must find the new pipe at the
  // path, not this one, which holds the records from the old position.
  dataId_ = PlaceFreshFifo(dataPath_);
  fcntl(fd, F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe only costs speed
  // A reader sends "RWND" or "SEEK" before it opens, and then waits for a
  // record, so whatever the rewind pipe holds now was meant for this opening.
  ReadControl();
  dataFd_ = fd;
  batch_.Restart(nextCase_);
  ++stats_.passes;
  Event("reader opened the data pipe; sending from case " + std::to_string(nextCase_));
  phase_ = Phase::kSending;
  openWaitMs_ = 1;
  deadlineMs_ = -1;
}

void PipeServer::SendSome() {
  if (batch_.Finished()) {
    phase_ = Phase::kDraining;
    return;
  }
  posix::Result wrote = posix::WriteNoSignal(dataFd_, batch_.Data(), batch_.Size());
  if (wrote.ok()) {
    batch_.Consume(static_cast<std::size_t>(wrote.value));
  } else if (wrote.error == EAGAIN) {
    Wait(POLLOUT, kMaxWaitMs);
  } else {
    EndPass(wrote.error == EPIPE ? "reader closed the data pipe" : "writing failed");
  }
}

void PipeServer::CheckDrained() {
  // Closing only once the reader has taken every byte keeps the pass open
  // until it is really over, so the linger time starts at the true end.
  posix::Result pending = posix::PendingBytes(dataFd_);
  if (!pending.ok() || pending.value == 0) return EndPass("pass complete");
  Wait(0, kDrainCheckMs);
}

void PipeServer::EndPass(const char* why) {
  posix::Close(dataFd_);
  dataFd_ = -1;
  Event(why);
  phase_ = Phase::kAwaitReader;
  nextCase_ = 0;
  if (options_.forever) return;
  if (rewindPath_.empty()) {
    done_ = true;  // without a rewind pipe no reader can ask for more
    return;
  }
  deadlineMs_ = NowMs() + options_.lingerMs;
}

void PipeServer::Wait(short dataEvents, int timeoutMs) {
  pollfd fds[2];
  std::size_t count = 0;
  if (rewindFd_ >= 0) fds[count++] = pollfd{rewindFd_, POLLIN, 0};
  bool watchData = dataFd_ >= 0;
  if (watchData) fds[count++] = pollfd{dataFd_, dataEvents, 0};
  posix::Poll(fds, count, timeoutMs);
  // POLLERR on the write side: the reader closed the pipe.
  if (watchData && (fds[count - 1].revents & POLLERR) && phase_ != Phase::kAwaitReader)
    EndPass("reader closed the data pipe");
}

}  // namespace feed
}  // namespace drav
