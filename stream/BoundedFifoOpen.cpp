#include "stream/BoundedFifoOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace drav {
namespace fifo {

namespace {

std::atomic<int> allowanceForTesting{0};

// How often the release retries while the helper has not reached its open.
constexpr auto kReleaseRetry = std::chrono::milliseconds(1);

int OpenRetryingInterrupts(const char* path, int flags) {
  for (;;) {
    int fd = open(path, flags | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

ReaderOpen Failure(int error) {
  return {error == ENOENT ? ReaderOpen::kMissing : ReaderOpen::kFailed, -1};
}

// The path through which both the helper's read open and the release's
// write open reach the very FIFO that `pathFd` holds, even when the feeder
// renames another FIFO over the data path meanwhile. Without /proc, the
// data path itself.
std::string SameFifoPath(int pathFd, const char* path) {
  if (access("/proc/self/fd", X_OK) != 0) return path;
  return "/proc/self/fd/" + std::to_string(pathFd);
}

// The blocking read open of one FIFO, on a thread of its own. The owner
// waits for it with WaitFor, releases it if need be, and always joins it
// (the destructor): the thread never outlives its owner.
class HelperOpen {
 public:
  explicit HelperOpen(std::string path) : path_(std::move(path)), thread_([this] { Run(); }) {}
  ~HelperOpen() { thread_.join(); }
  HelperOpen(const HelperOpen&) = delete;
  HelperOpen& operator=(const HelperOpen&) = delete;

  // True when the open has returned within `waitMs` milliseconds.
  bool WaitFor(int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return done_; });
  }
  bool Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  // Once done: the descriptor (or -1) and the open's errno.
  int Fd() const { return fd_; }
  int Error() const { return error_; }

 private:
  void Run() {
    const int fd = OpenRetryingInterrupts(path_.c_str(), O_RDONLY);
    const int error = errno;
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    error_ = error;
    done_ = true;
    finished_.notify_one();
  }

  const std::string path_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  int fd_ = -1;
  int error_ = 0;
  std::thread thread_;  // last: starts once everything it uses exists
};

// Ends the helper's wait by being the writer it waits for: a non-blocking
// write open of a FIFO succeeds once a reader (the helper, blocked in its
// open) is there, and fails with ENXIO until the helper gets that far. The
// caller checked the right to write, so the retries end. False when the
// helper's open returned on its own meanwhile (a writer came at the last
// moment).
bool Release(HelperOpen& helper, const std::string& fifoPath) {
  while (!helper.Done()) {
    const int writeFd = OpenRetryingInterrupts(fifoPath.c_str(), O_WRONLY | O_NONBLOCK);
    if (writeFd >= 0) {
      // A writer is there now, so the helper's open returns at once.
      while (!helper.WaitFor(1000)) {
      }
      close(writeFd);
      return true;
    }
    std::this_thread::sleep_for(kReleaseRetry);
  }
  return false;
}

ReaderOpen OpenFifoWithin(int pathFd, const char* path, int waitMs) {
  const std::string fifoPath = SameFifoPath(pathFd, path);
  HelperOpen helper(fifoPath);
  if (!helper.WaitFor(waitMs) && Release(helper, fifoPath)) {
    // What the helper opened was opened by our own release: no feeder's.
    if (helper.Fd() >= 0) close(helper.Fd());
    return {ReaderOpen::kNoWriter, -1};
  }
  if (helper.Fd() < 0) return Failure(helper.Error());
  return {ReaderOpen::kOpened, helper.Fd()};
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
  // Releasing the helper takes the right to write to the FIFO.
  const bool releasable = isFifo && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
  ReaderOpen result;
  if (releasable) {
    result = OpenFifoWithin(pathFd, path, waitMs);
  } else {
    const int fd = OpenRetryingInterrupts(path, O_RDONLY);
    result = fd >= 0 ? ReaderOpen{ReaderOpen::kOpened, fd} : Failure(errno);
  }
  close(pathFd);
  return result;
}

}  // namespace fifo
}  // namespace drav
