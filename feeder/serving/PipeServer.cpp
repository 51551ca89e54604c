#include "dravfeed/PipeServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "dravfeed/FeederError.h"
#include "feeder/serving/PipeServerImpl.h"

namespace drav {
namespace feed {
namespace {

constexpr int kPipeBytes = 1 << 20;
constexpr int kMaxWaitMs = 100;
constexpr int kDrainCheckMs = 2;
// How often a reader blocked in its open of the data pipe is looked for at
// most. A pause only delays the reader; it never decides what it reads.
constexpr int kMaxTryPauseMs = 20;

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

short PollNow(int fd) {
  pollfd one{fd, POLLIN, 0};
  posix::Poll(&one, 1, 0);
  return one.revents;
}

}  // namespace

PipeServer::Impl::Impl(CaseSource& source, ByteOrder order, std::string dataPath,
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
    if (!rewindPath_.empty()) rewindId_ = PlaceFreshFifo(rewindPath_);
    dataId_ = PlaceFreshFifo(dataPath_);
    OpenGate();
  } catch (...) {
    Cleanup();
    throw;
  }
}

PipeServer::Impl::~Impl() { Cleanup(); }

void PipeServer::Impl::Cleanup() {
  posix::Close(dataFd_);
  posix::Close(gateFd_);
  dataFd_ = gateFd_ = -1;
  RemoveIfOurs(dataPath_, dataId_);
  RemoveIfOurs(rewindPath_, rewindId_);
  dataId_ = rewindId_ = posix::FileId();
}

posix::FileId PipeServer::Impl::PlaceFreshFifo(const std::string& path) {
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

void PipeServer::Impl::OpenGate() {
  if (rewindPath_.empty() || gateFd_ >= 0) return;
  posix::Result reader = posix::Open(rewindPath_, O_RDONLY | O_NONBLOCK);
  if (reader.error == ENOENT) {  // somebody removed it; a reader needs one there
    rewindId_ = PlaceFreshFifo(rewindPath_);
    reader = posix::Open(rewindPath_, O_RDONLY | O_NONBLOCK);
  }
  if (!reader.ok()) throw SystemError("cannot open " + rewindPath_, reader.error);
  int fd = static_cast<int>(reader.value);
  if (!(posix::FifoIdOfFd(fd) == rewindId_)) {
    posix::Close(fd);
    throw FeederError(rewindPath_ + " was replaced by another file");
  }
  gateFd_ = fd;
}

void PipeServer::Impl::TakeGateBytes() {
  char bytes[256];
  posix::Result got;
  while ((got = posix::Read(gateFd_, bytes, sizeof bytes)).value > 0)
    control_.Feed(bytes, static_cast<std::size_t>(got.value));
}

void PipeServer::Impl::CloseGate() {
  if (gateFd_ < 0) return;
  TakeGateBytes();  // bytes still in the pipe would be lost with its last reader
  posix::Close(gateFd_);
  gateFd_ = -1;
}

void PipeServer::Impl::RenewGate() {
  if (gateFd_ < 0) return;
  int old = gateFd_;
  gateFd_ = -1;
  try {
    OpenGate();
  } catch (...) {
    posix::Close(old);
    throw;
  }
  posix::Close(old);
}

bool PipeServer::Impl::WriterAtGate() {
  if (gateFd_ < 0) return false;
  // A writer of our own that comes and goes makes the read end report a
  // hang-up exactly when no other writer holds the pipe.
  posix::Result probe = posix::Open(rewindPath_, O_WRONLY | O_NONBLOCK);
  if (!probe.ok()) return false;
  posix::Close(static_cast<int>(probe.value));
  short events = PollNow(gateFd_);
  return (events & POLLIN) || !(events & POLLHUP);
}

void PipeServer::Impl::Event(const std::string& text) const {
  if (options_.onEvent) options_.onEvent(text);
}

bool PipeServer::Impl::Cancelled() const { return options_.cancel && *options_.cancel; }

ServeStats PipeServer::Impl::Serve() {
  while (!done_) {
    if (Cancelled()) {
      stats_.cancelled = true;
      break;
    }
    // Nothing to serve, and no reader ever will get a case: a reader still
    // to come finds no pipe instead of an empty pass that looks whole.
    if (stats_.passes == 0 && source_.BrokeBeforeAnyCase()) break;
    ReadGate();
    switch (phase_) {
      case Phase::kAwaitReader:
        AwaitReader();
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

void PipeServer::Impl::ReadGate() {
  if (gateFd_ < 0) return;
  const short events = PollNow(gateFd_);
  if (events & (POLLIN | POLLHUP)) TakeGateBytes();
  bool obeyed = false;
  ControlMessage message;
  while (control_.Next(message)) {
    Obey(message);
    obeyed = true;
  }
  if (!(events & POLLHUP)) return;
  // The writer has gone: what it left unfinished is no message.
  control_.Reset();
  if (!obeyed && phase_ == Phase::kAwaitReader && reader_ != Reader::kComing) {
    // A rewind check, and the reader opens the data pipe next; or only the
    // late close of a message already obeyed, which MayTryNow allows for.
    reader_ = Reader::kChecked;
    nextTryMs_ = 0;
    tryPauseMs_ = 0;
  }
  RenewGate();
}

void PipeServer::Impl::Obey(const ControlMessage& message) {
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
  posix::Close(dataFd_);
  dataFd_ = -1;
  phase_ = Phase::kAwaitReader;
  reader_ = Reader::kComing;
  nextTryMs_ = 0;
  tryPauseMs_ = 0;
  lingerEndsMs_ = options_.forever ? -1 : posix::NowMs() + options_.lingerMs;
}

void PipeServer::Impl::AwaitReader() {
  KeepFreshPipeAtPath();
  std::int64_t now = posix::NowMs();
  if (lingerEndsMs_ >= 0 && now >= lingerEndsMs_) {
    lingerEndsMs_ = -1;
    if (!options_.forever) {
      done_ = true;
      return;
    }
    reader_ = Reader::kUnknown;  // that reader is done; look out for the next
  }
  const bool tries = reader_ != Reader::kBetweenPasses;
  if (tries && now >= nextTryMs_) {
    if (MayTryNow() && TryOpenData()) return;
    tryPauseMs_ = std::min(std::max(1, tryPauseMs_ * 2), kMaxTryPauseMs);
    nextTryMs_ = now + tryPauseMs_;
  }
  std::int64_t timeout = kMaxWaitMs;
  if (tries) timeout = std::min(timeout, nextTryMs_ - now);
  if (lingerEndsMs_ >= 0) timeout = std::min(timeout, lingerEndsMs_ - now);
  Wait(0, static_cast<int>(std::max<std::int64_t>(timeout, 0)));
}

bool PipeServer::Impl::MayTryNow() {
  // A reader on its way after its message sends nothing before its open
  // completes. Otherwise a reader may be writing a message right now:
  // closing the gate under it would break its write, so the try waits for
  // the message.
  return reader_ == Reader::kComing || !WriterAtGate();
}

void PipeServer::Impl::KeepFreshPipeAtPath() {
  // Only a reader that removes the path whatever it names leaves none.
  if (!posix::Exists(dataPath_)) dataId_ = PlaceFreshFifo(dataPath_);
}

bool PipeServer::Impl::TryOpenData() {
  CloseGate();
  const bool opened = OpenDataIfReaderWaits();
  OpenGate();
  return opened;
}

bool PipeServer::Impl::OpenDataIfReaderWaits() {
  // Opening for writing without blocking succeeds only while a reader has
  // the pipe open: that is how we learn it is there.
  posix::Result opened = posix::Open(dataPath_, O_WRONLY | O_NONBLOCK);
  if (opened.error == ENOENT) {
    dataId_ = PlaceFreshFifo(dataPath_);
    return false;
  }
  if (opened.error == ENXIO) return false;
  if (!opened.ok()) throw SystemError("cannot open " + dataPath_, opened.error);
  int fd = static_cast<int>(opened.value);
  if (!posix::FifoIdOfFd(fd).valid()) {
    posix::Close(fd);
    throw FeederError(dataPath_ + " is no longer a named pipe");
  }
  // Still behind the closed gate: the reader's next open, after a message,
  // must find a pipe it has not opened.
  try {
    dataId_ = PlaceFreshFifo(dataPath_);
  } catch (...) {
    posix::Close(fd);
    throw;
  }
  fcntl(fd, F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe only costs speed
  dataFd_ = fd;
  batch_.Restart(nextCase_);
  ++stats_.passes;
  Event("reader opened the data pipe; sending from case " + std::to_string(nextCase_));
  phase_ = Phase::kSending;
  reader_ = Reader::kBetweenPasses;
  lingerEndsMs_ = -1;
  return true;
}

void PipeServer::Impl::SendSome() {
  if (batch_.Finished()) {
    phase_ = Phase::kDraining;
    return;
  }
  if (batch_.Waiting()) {
    // Every case so far is sent: wait for more, and meanwhile for a message
    // at the gate or the reader closing the pipe.
    Wait(0, kMaxWaitMs, true);
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

void PipeServer::Impl::CheckDrained() {
  // Closing only once the reader has taken every byte keeps the pass open
  // until it is really over, so the linger time starts at the true end.
  posix::Result pending = posix::PendingBytes(dataFd_);
  if (!pending.ok() || pending.value == 0) return EndPass("pass complete");
  Wait(0, kDrainCheckMs);
}

void PipeServer::Impl::EndPass(const char* why) {
  posix::Close(dataFd_);
  dataFd_ = -1;
  Event(why);
  phase_ = Phase::kAwaitReader;
  nextCase_ = 0;
  if (rewindPath_.empty()) {
    // Without a rewind pipe no reader can ask for more.
    if (!options_.forever) done_ = true;
    reader_ = Reader::kUnknown;
    return;
  }
  reader_ = Reader::kBetweenPasses;
  lingerEndsMs_ = posix::NowMs() + options_.lingerMs;
}

void PipeServer::Impl::Wait(short dataEvents, int timeoutMs, bool forCases) {
  pollfd fds[3];
  std::size_t count = 0;
  if (gateFd_ >= 0) fds[count++] = pollfd{gateFd_, POLLIN, 0};
  const int dataAt = dataFd_ >= 0 ? static_cast<int>(count++) : -1;
  if (dataAt >= 0) fds[dataAt] = pollfd{dataFd_, dataEvents, 0};
  const int casesAt = forCases && source_.ChangeFd() >= 0 ? static_cast<int>(count++) : -1;
  if (casesAt >= 0) fds[casesAt] = pollfd{source_.ChangeFd(), POLLIN, 0};
  posix::Poll(fds, count, timeoutMs);
  if (casesAt >= 0 && (fds[casesAt].revents & POLLIN)) source_.TakeChange();
  // POLLERR on the write side: the reader closed the pipe.
  if (dataAt >= 0 && (fds[dataAt].revents & POLLERR) && phase_ != Phase::kAwaitReader)
    EndPass("reader closed the data pipe");
}

PipeServer::PipeServer(CaseSource& source, ByteOrder order, std::string dataPath,
                       std::string rewindPath, ServeOptions options)
    : impl_(std::make_unique<Impl>(source, order, std::move(dataPath), std::move(rewindPath),
                                   std::move(options))) {}

PipeServer::~PipeServer() = default;

ServeStats PipeServer::Serve() { return impl_->Serve(); }

}  // namespace feed
}  // namespace drav
