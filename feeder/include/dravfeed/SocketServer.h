#pragma once
// Serves cases over TCP. The first connection gets the byte-order probe and
// then the records from case 0. Every later connection starts with a control
// message from the reader: "RWND" (records from case 0 follow, no probe) or
// "SEEK" and a case number (records from that case follow). "STOP" on a
// connection ends its sending: the server shuts its sending side, so a later
// pass that reads on without a rewind sees the end instead of waiting. When
// all cases are sent the sending side is shut as well.
//
// A source that grows is served as it grows: each case goes out as soon as
// it is there, and the sending side is shut only when the source's input has
// ended and every case is sent (a "SEEK" beyond the cases so far waits for
// them). A "STOP" or a hang-up is heard while waiting.
//
// A later connection that says nothing for a second is taken for a new
// reader (one that waits for the probe) and served as a first connection.
//
// A pass that cannot be finished is broken off with a reset, never ended
// with an orderly close that would look like the end of the data: at a
// source that broke (after the reader has acknowledged every case before
// the break) and at a cancel. A source that broke before it had any case
// ends the serve at once when no reader has come.
//
// Listens on loopback (IPv6 and IPv4) unless given an address; port 0 lets
// the system choose, Port() tells which. Sends never raise SIGPIPE. The
// server borrows the source, which must outlive it.
#include <cstdint>
#include <memory>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/ServeOptions.h"

namespace drav {
namespace feed {

class DRAV_FEED_API SocketServer {
 public:
  // Binds and listens at once; throws FeederError.
  SocketServer(CaseSource& source, ByteOrder order, int port,
               const std::string& bindAddress, ServeOptions options);
  ~SocketServer();
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  int Port() const;
  // Serves until the reader is done: it has connected at least once, holds
  // no connection, and has not come back for ServeOptions::lingerMs. Or
  // until cancelled. Throws FeederError when the listener fails.
  ServeStats Serve();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace feed
}  // namespace drav
