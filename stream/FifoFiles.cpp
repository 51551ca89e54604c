#include "stream/FifoFiles.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "host/DravSleep.h"

namespace drav {
namespace fifo {

namespace {

constexpr int kReaderPollMs = 5;

bool IsFifoPath(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
}

// Blocks SIGPIPE for the calling thread while alive. On the way out a
// SIGPIPE that our own writes left pending is consumed; one that was pending
// before (someone else's) is left alone.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &saved_);
  }
  ~SigpipeBlock() {
    if (!wasPending_) {
      sigset_t pending;
      sigemptyset(&pending);
      if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const struct timespec zero = {0, 0};
        int saved = errno;
        while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
        }
        errno = saved;
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipeSet_;
  sigset_t saved_;
  bool wasPending_ = false;
};

}  // namespace

namespace {

// A FIFO open waits for the other end; a signal arriving meanwhile is no
// reason to give up on it.
int OpenRetryingInterrupts(const char* path, int flags) {
  for (;;) {
    int fd = open(path, flags | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// A plain blocking open for writing would wait for ever when the feeder has
// gone and nobody will read the pipe again. A non-blocking open fails at once
// (ENXIO) while there is no reader, so it is retried until one comes or the
// time is up.
int OpenWhenReaderIsThere(const char* path, int waitMs) {
  for (int waited = 0;; waited += kReaderPollMs) {
    int fd = OpenRetryingInterrupts(path, O_WRONLY | O_NONBLOCK);
    if (fd >= 0 || errno != ENXIO || waited >= waitMs) return fd;
    DRAV_msleep(kReaderPollMs);
  }
}

// Control messages are written with ordinary blocking writes once the pipe
// is open, so that a full pipe delays them instead of cutting them.
bool MakeBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

int OpenFifoForWriting(const char* path, int waitMs) {
  // Checked before the open so that nothing but a FIFO is ever opened for
  // writing, and after it on the descriptor in case the path was replaced.
  if (!IsFifoPath(path)) return -1;
  int fd = OpenWhenReaderIsThere(path, waitMs);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || !MakeBlocking(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const void* bytes, std::size_t length) {
  SigpipeBlock block;
  const char* p = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t n = write(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

long ReadSome(int fd, void* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = read(fd, buffer, length);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool PathNamesFifoOf(int fd, const char* path) {
  if (fd < 0 || path == nullptr || *path == '\0') return false;
  struct stat open;
  struct stat named;
  if (fstat(fd, &open) != 0 || !S_ISFIFO(open.st_mode)) return false;
  // lstat: a symbolic link to the FIFO is not the FIFO; removing the path
  // would remove the link, which the plug-in never opened.
  if (lstat(path, &named) != 0) return false;
  return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

void Close(int fd) {
  if (fd >= 0) close(fd);
}

void Remove(const char* path) {
  if (path != nullptr && *path != '\0') std::remove(path);
}

}  // namespace fifo
}  // namespace drav
