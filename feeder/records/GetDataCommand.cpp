#include "feeder/records/GetDataCommand.h"

namespace drav {
namespace feed {
namespace {

// A path in single quotes, a quote inside doubled, as the command reads it.
std::string Quoted(const std::string& path) {
  std::string quoted = "'";
  for (char c : path) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

}  // namespace

std::string GetDataCommand(const StreamAddress& address, const std::string& variables) {
  std::string command = "GET DATA /TYPE = STREAM";
  bool rewindable = true;
  if (address.socket) {
    command += " /SOCKET = " + std::to_string(address.port);
    if (!address.host.empty()) command += " /HOST = " + address.host;
    command += " /REWINDABLE";
  } else {
    command += " /PIPE = " + Quoted(address.pipe);
    rewindable = !address.rewindPipe.empty();
    if (rewindable) command += " /REWINDABLE = " + Quoted(address.rewindPipe);
  }
  if (rewindable) command += " /SEEKABLE";
  return command + " /VARIABLES = " + variables + " .";
}

}  // namespace feed
}  // namespace drav
