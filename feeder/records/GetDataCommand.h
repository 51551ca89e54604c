#pragma once
// The GET DATA command that reads what a feeder serves, so that a user
// types the variable list once: the feeder prints it, the reader runs it.
#include <string>

namespace drav {
namespace feed {

// Where a feeder serves: a named pipe (and the rewind pipe it answers on,
// if any), or a TCP port, reached at `host` (empty: the reader's own
// machine).
struct StreamAddress {
  std::string pipe;
  std::string rewindPipe;
  bool socket = false;
  int port = 0;
  std::string host;
};

// "GET DATA /TYPE = STREAM /SOCKET = 5000 /REWINDABLE /SEEKABLE /VARIABLES = x F8.2 ."
// A socket or a pipe with a rewind pipe is rewindable and seekable, as the
// library's servers are; paths are quoted.
std::string GetDataCommand(const StreamAddress& address, const std::string& variables);

}  // namespace feed
}  // namespace drav
