#pragma once
// The plug-in's POSIX file calls on the stream's named pipes, kept in one
// place so that every descriptor is close-on-exec, errno is read here only
// (and in BoundedFifoOpen.cpp, the data pipe's bounded open),
// and no write can raise SIGPIPE. Hidden from the library's export list.
#include <cstddef>

namespace drav {
namespace fifo {

// Opens `path` for writing only when it is a named pipe (checked before the
// open and again on the descriptor); -1 otherwise. Waits until a reader has
// the pipe open, but at most `waitMs` milliseconds: -1 when none came.
// The descriptor returned is blocking.
int OpenFifoForWriting(const char* path, int waitMs);

// Writes all `length` bytes, retrying interrupted and partial writes, with
// SIGPIPE blocked for the calling thread; a SIGPIPE the write raised is
// consumed so it never reaches the process. False on any failure.
bool WriteAll(int fd, const void* bytes, std::size_t length);

// Result of one read: bytes read (> 0), 0 at end of file, -1 on a failure
// other than an interruption (interruptions are retried inside).
long ReadSome(int fd, void* buffer, std::size_t length);

// True when `fd` is a FIFO and `path` itself (not a link to it) still names
// that same FIFO.
bool PathNamesFifoOf(int fd, const char* path);

void Close(int fd);
void Remove(const char* path);

}  // namespace fifo
}  // namespace drav
