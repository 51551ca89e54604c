#include "stream/BoundedFifoOpen.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "host/DravSleep.h"

namespace drav {
namespace fifo {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> allowanceForTesting{0};

// How often the release retries while the helper has not reached its open.
constexpr int kReleaseRetryMs = 1;

int OpenRetryingInterrupts(const char* path, int flags) {
  for (;;) {
    int fd = open(path, flags | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

ReaderOpen Opened(int fd) { return {ReaderOpen::kOpened, fd}; }

ReaderOpen NoWriter() { return {ReaderOpen::kNoWriter, -1}; }

ReaderOpen Failure(int error) {
  return {error == ENOENT ? ReaderOpen::kMissing : ReaderOpen::kFailed, -1};
}

// The path through which every open here reaches the very FIFO that
// `pathFd` holds, even when the feeder renames another FIFO over the data
// path meanwhile. Without /proc, the data path itself. Built in place:
// nothing here may throw.
class SameFifo {
 public:
  SameFifo(int pathFd, const char* path) : path_(path) {
    if (access("/proc/self/fd", X_OK) != 0) return;
    std::snprintf(procPath_, sizeof procPath_, "/proc/self/fd/%d", pathFd);
    path_ = procPath_;
  }
  SameFifo(const SameFifo&) = delete;
  SameFifo& operator=(const SameFifo&) = delete;
  const char* Path() const { return path_; }

 private:
  char procPath_[32] = "";
  const char* path_;
};

// The blocking read open of one FIFO, on a thread of its own. The owner
// waits for it with WaitFor, ends it if need be, and always joins it: the
// thread never outlives its owner. The open is the only cancellation point
// the thread reaches, so a descriptor the open returned is always handed
// over, never lost to a cancellation.
class HelperOpen {
 public:
  explicit HelperOpen(const char* path) : path_(path) {}
  ~HelperOpen() { Join(); }
  HelperOpen(const HelperOpen&) = delete;
  HelperOpen& operator=(const HelperOpen&) = delete;

  // False when no thread could be created (no thread then runs).
  bool Start() {
    // A thread inherits the signal mask of the thread that creates it: with
    // every signal blocked for that moment, a signal meant for the host
    // (SIGINT, SIGALRM, ...) is never delivered to the helper.
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    running_ = pthread_create(&thread_, nullptr, &HelperOpen::Run, this) == 0;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return running_;
  }
  // True when the open has returned within `waitMs` milliseconds.
  bool WaitFor(int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return done_; });
  }
  bool Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  void Join() {
    if (running_) pthread_join(thread_, nullptr);
    running_ = false;
  }
  // Ends an open no writer will end (cancellation is not a signal: it
  // reaches the helper whatever its mask), and joins. An open that has
  // already returned is only joined.
  void Cancel() {
    if (running_) pthread_cancel(thread_);
    Join();
  }
  // Once joined: a cancelled open had no writer.
  ReaderOpen Result() const {
    if (!done_) return NoWriter();
    return fd_ >= 0 ? Opened(fd_) : Failure(error_);
  }

 private:
  static void* Run(void* self) {
    auto* helper = static_cast<HelperOpen*>(self);
    const int fd = OpenRetryingInterrupts(helper->path_, O_RDONLY);
    const int error = errno;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    std::lock_guard<std::mutex> lock(helper->mutex_);
    helper->fd_ = fd;
    helper->error_ = error;
    helper->done_ = true;
    helper->finished_.notify_one();
    return nullptr;
  }

  const char* const path_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  int fd_ = -1;
  int error_ = 0;
  pthread_t thread_{};
  bool running_ = false;
};

bool MakeBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// The write end that ends the helper's wait: a non-blocking write open of a
// FIFO succeeds once a reader (the helper, blocked in its open) is there,
// and fails with ENXIO until the helper gets that far, which takes it a
// moment. -1 when the helper's open returned on its own first (a writer
// came at the last moment), when the open is refused (the FIFO's mode does
// not let us write), or when it still fails at `giveUpAt`.
int OpenOwnWriter(HelperOpen& helper, const char* fifo, Clock::time_point giveUpAt) {
  for (;;) {
    if (helper.Done()) return -1;
    const int fd = OpenRetryingInterrupts(fifo, O_WRONLY | O_NONBLOCK);
    if (fd >= 0 || errno != ENXIO || Clock::now() >= giveUpAt) return fd;
    DRAV_msleep(kReleaseRetryMs);
  }
}

// Nobody had the write end open when we looked, but until our read end is
// closed a feeder may still open it and write. A second writer of our own
// keeps the pipe, with whatever such a feeder wrote, alive across that
// close; after it no feeder's write succeeds (EPIPE, the feeder knows), so
// what stands in the pipe then is all a feeder wrote unseen, and it is read.
ReaderOpen CloseUnlessAFeederWrote(int readFd, const char* fifo) {
  const int keeper = OpenRetryingInterrupts(fifo, O_WRONLY | O_NONBLOCK);
  close(readFd);
  if (keeper < 0) return NoWriter();
  int pending = 0;
  if (ioctl(keeper, FIONREAD, &pending) != 0 || pending == 0) {
    close(keeper);
    return NoWriter();
  }
  // Opened while the keeper holds the pipe, so the bytes are still there.
  const int again = OpenRetryingInterrupts(fifo, O_RDONLY | O_NONBLOCK);
  close(keeper);
  if (again >= 0 && MakeBlocking(again)) return Opened(again);
  if (again >= 0) close(again);
  return NoWriter();
}

// Our own writer has just been closed. A hang-up with nothing to read
// means nobody else has the write end open; anything else means a feeder
// opened it while we released the helper, and the open is its.
ReaderOpen TellAFeederFromOurWriter(int readFd, const char* fifo) {
  pollfd state{readFd, POLLIN, 0};
  while (poll(&state, 1, 0) < 0 && errno == EINTR) {
  }
  const bool hungUp = (state.revents & POLLHUP) != 0;
  const bool readable = (state.revents & POLLIN) != 0;
  if (!hungUp || readable) return Opened(readFd);
  return CloseUnlessAFeederWrote(readFd, fifo);
}

// Ends the helper's open at the end of its wait. The release itself gets
// the allowance, however short the wait was, and no more.
ReaderOpen Release(HelperOpen& helper, const char* fifo) {
  const auto giveUpAt = Clock::now() + std::chrono::milliseconds(DataPipeAllowanceMs());
  const int ownWriter = OpenOwnWriter(helper, fifo, giveUpAt);
  if (ownWriter < 0) {
    // Refused, or the helper's open returned on its own: whatever the open
    // got is kept; an open still waiting had no writer and is cancelled.
    helper.Cancel();
    return helper.Result();
  }
  helper.Join();  // a writer is there, so the open returns at once
  const ReaderOpen opened = helper.Result();
  close(ownWriter);
  if (opened.outcome != ReaderOpen::kOpened) return opened;
  return TellAFeederFromOurWriter(opened.fd, fifo);
}

ReaderOpen OpenFifoWithin(int pathFd, const char* path, int waitMs) {
  const SameFifo fifo(pathFd, path);
  HelperOpen helper(fifo.Path());
  if (!helper.Start()) {
    // No thread to wait in: the plain blocking open, unbounded, which still
    // returns the moment a writer comes.
    const int fd = OpenRetryingInterrupts(fifo.Path(), O_RDONLY);
    return fd >= 0 ? Opened(fd) : Failure(errno);
  }
  if (helper.WaitFor(waitMs)) {
    helper.Join();
    return helper.Result();
  }
  return Release(helper, fifo.Path());
}

}  // namespace

int DataPipeAllowanceMs() {
  const int forTesting = allowanceForTesting.load();
  return forTesting > 0 ? forTesting : kDataPipeAllowanceMs;
}

void SetDataPipeAllowanceMsForTesting(int milliseconds) { allowanceForTesting.store(milliseconds); }

ReaderOpen OpenForReadingWithin(const char* path, int waitMs) {
  if (path == nullptr || *path == '\0') return {ReaderOpen::kFailed, -1};
  // O_PATH opens nothing but the name: it never waits, even on a FIFO.
  const int pathFd = OpenRetryingInterrupts(path, O_PATH);
  if (pathFd < 0) return Failure(errno);
  struct stat st;
  const bool isFifo = fstat(pathFd, &st) == 0 && S_ISFIFO(st.st_mode);
  ReaderOpen result;
  if (isFifo) {
    result = OpenFifoWithin(pathFd, path, waitMs);
  } else {
    const int fd = OpenRetryingInterrupts(path, O_RDONLY);
    result = fd >= 0 ? Opened(fd) : Failure(errno);
  }
  close(pathFd);
  return result;
}

}  // namespace fifo
}  // namespace drav
