#pragma once
// Thin wrappers around the system calls the servers make. Each returns the
// call's result together with its errno, so that errno is read in this one
// place (PosixIo.cpp) and the servers decide on plain values.
#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "dravfeed/FeederError.h"

namespace drav {
namespace feed {
namespace posix {

struct Result {
  long value;  // the call's own result (-1 on failure)
  int error;   // errno after a failure, 0 on success
  bool ok() const { return error == 0; }
};

// The result of a system call made just before, with its errno: for the
// calls that need no wrapper of their own (socket, bind, listen, ...).
Result Checked(long value);
// write(2) that can never raise SIGPIPE: the signal is blocked around the
// call and a SIGPIPE the write caused is taken back, so a reader that has
// gone away only gives EPIPE.
Result WriteNoSignal(int fd, const void* data, std::size_t size);
// send(2) with MSG_NOSIGNAL | MSG_DONTWAIT.
Result SendNoSignal(int fd, const void* data, std::size_t size);
// read(2), retried on EINTR.
Result Read(int fd, void* data, std::size_t size);
// open(2) with O_CLOEXEC added to `flags`; retried on EINTR. A file it
// creates gets `mode` (less the umask).
Result Open(const std::string& path, int flags, mode_t mode = 0600);
// A new file for reading and writing, mode 0600, in TMPDIR (or /tmp), that
// has no name: nothing of it remains once it is closed, even after SIGKILL.
Result OpenUnnamedFile();
// poll(2); EINTR comes back as an error so the caller can look at its
// cancel flag.
Result Poll(pollfd* fds, std::size_t count, int timeoutMs);
// accept4(2), non-blocking and close-on-exec.
Result Accept(int listenFd);
// mkfifo(2) with mode 0600.
Result MakeFifo(const std::string& path);
Result Rename(const std::string& from, const std::string& to);
// Bytes waiting in the pipe behind `fd` (FIONREAD works on either end).
Result PendingBytes(int fd);
// The FIFO's identity: 0 when `path` names no FIFO.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool valid() const { return inode != 0; }
  bool operator==(const FileId& other) const {
    return device == other.device && inode == other.inode;
  }
};
FileId FifoIdOfPath(const std::string& path);
FileId FifoIdOfFd(int fd);
// write(2) until every byte is written (or it fails), retried on EINTR.
Result WriteAll(int fd, const void* data, std::size_t size);
// pread(2) until `size` bytes are read or the file ends; the bytes read.
Result ReadAt(int fd, void* data, std::size_t size, std::int64_t offset);
// A new folder of mode 0700 under TMPDIR (or /tmp), named from `prefix`;
// its path goes to `path`.
Result MakePrivateFolder(const std::string& prefix, std::string& path);
// Milliseconds on a monotonic clock, for the servers' deadlines and waits.
std::int64_t NowMs();
// A non-blocking, close-on-exec eventfd(2), and its signal and drain.
Result MakeEvent();
void SignalEvent(int fd);
void DrainEvent(int fd);
// ftruncate(2).
Result Truncate(int fd, std::int64_t size);
// The size of the file behind `fd`, in bytes.
Result FileSize(int fd);
// Whether anything (of any kind) exists at `path`.
bool Exists(const std::string& path);
void Close(int fd);
// Closes a TCP connection with a reset (SO_LINGER 0) instead of an orderly
// end, so that its reader learns the stream broke off.
void AbortConnection(int fd);
// The bytes of a TCP connection not yet acknowledged by the peer (SIOCOUTQ).
Result UnacknowledgedBytes(int fd);

}  // namespace posix

// A system call failed: `what` says what we were doing, `error` (an errno
// value, read here) says why.
FeederError SystemError(const std::string& what, int error);
}  // namespace feed
}  // namespace drav
