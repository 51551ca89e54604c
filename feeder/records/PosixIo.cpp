#include "feeder/records/PosixIo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <linux/sockios.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace drav {
namespace feed {
namespace posix {
namespace {

Result Done(long value) { return Result{value, value < 0 ? errno : 0}; }

FileId IdOf(const struct stat& st) {
  FileId id;
  if (S_ISFIFO(st.st_mode)) {
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

}  // namespace

Result Checked(long value) { return Done(value); }

Result WriteNoSignal(int fd, const void* data, std::size_t size) {
  sigset_t pipeOnly, old, pending;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  sigpending(&pending);
  bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  long n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  Result result = Done(n);
  if (result.error == EPIPE && !wasPending) {
    // Take back the SIGPIPE this write raised before unblocking it.
    timespec zero = {0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return result;
}

Result SendNoSignal(int fd, const void* data, std::size_t size) {
  long n;
  do {
    n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return Done(n);
}

Result Read(int fd, void* data, std::size_t size) {
  long n;
  do {
    n = ::read(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return Done(n);
}

Result Open(const std::string& path, int flags, mode_t mode) {
  long fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return Done(fd);
}

Result OpenUnnamedFile() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp && *tmp ? tmp : "/tmp";
  Result opened = Open(folder, O_TMPFILE | O_RDWR, 0600);
  // A file system without unnamed files: a name in a private folder, gone
  // again at once.
  if (opened.ok() || (opened.error != EOPNOTSUPP && opened.error != EISDIR && opened.error != EINVAL))
    return opened;
  std::string made;
  Result folderMade = MakePrivateFolder("dravfeed-", made);
  if (!folderMade.ok()) return folderMade;
  const std::string path = made + "/cases";
  opened = Open(path, O_RDWR | O_CREAT | O_EXCL, 0600);
  ::unlink(path.c_str());
  ::rmdir(made.c_str());
  return opened;
}

Result Poll(pollfd* fds, std::size_t count, int timeoutMs) {
  return Done(::poll(fds, count, timeoutMs));
}

Result Accept(int listenFd) {
  long fd;
  do {
    fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return Done(fd);
}

Result MakeFifo(const std::string& path) { return Done(::mkfifo(path.c_str(), 0600)); }

Result Rename(const std::string& from, const std::string& to) {
  return Done(std::rename(from.c_str(), to.c_str()));
}

Result PendingBytes(int fd) {
  int bytes = 0;
  if (::ioctl(fd, FIONREAD, &bytes) < 0) return Done(-1);
  return Result{bytes, 0};
}

FileId FifoIdOfPath(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return FileId();
  return IdOf(st);
}

FileId FifoIdOfFd(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return FileId();
  return IdOf(st);
}

Result WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    long n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Done(-1);
    done += static_cast<std::size_t>(n);
  }
  return Result{static_cast<long>(done), 0};
}

Result ReadAt(int fd, void* data, std::size_t size, std::int64_t offset) {
  char* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    long n = ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Done(-1);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return Result{static_cast<long>(done), 0};
}

Result MakePrivateFolder(const std::string& prefix, std::string& path) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) return Done(-1);
  path = name.data();
  return Result{0, 0};
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Result MakeEvent() { return Done(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)); }

void SignalEvent(int fd) {
  std::uint64_t one = 1;
  while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void DrainEvent(int fd) {
  std::uint64_t value;
  while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

Result Truncate(int fd, std::int64_t size) { return Done(::ftruncate(fd, static_cast<off_t>(size))); }

Result FileSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Done(-1);
  return Result{static_cast<long>(st.st_size), 0};
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void Close(int fd) {
  if (fd >= 0) ::close(fd);
}

void AbortConnection(int fd) {
  if (fd < 0) return;
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  Close(fd);
}

Result UnacknowledgedBytes(int fd) {
  int bytes = 0;
  if (::ioctl(fd, SIOCOUTQ, &bytes) != 0) return Done(-1);
  return Result{bytes, 0};
}

}  // namespace posix

FeederError SystemError(const std::string& what, int error) {
  return FeederError(what + ": " + std::strerror(error));
}

}  // namespace feed
}  // namespace drav
