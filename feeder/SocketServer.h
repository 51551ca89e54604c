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
#include <vector>

#include "feeder/ByteOrder.h"
#include "feeder/CaseSource.h"
#include "feeder/ServeOptions.h"

namespace drav {
namespace feed {

class SocketServer {
 public:
  // Binds and listens at once; throws FeederError.
  SocketServer(const CaseSource& source, ByteOrder order, int port,
               const std::string& bindAddress, ServeOptions options);
  ~SocketServer();
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  int Port() const { return port_; }
  // Serves until the reader is done: it has connected at least once, holds
  // no connection, and has not come back for ServeOptions::lingerMs. Or
  // until cancelled. Throws FeederError when the listener fails.
  ServeStats Serve();

 private:
  struct Connection;

  void Listen(const std::string& bindAddress, int port);
  void AcceptAll(int listenFd);
  void Service(Connection& connection, short revents);
  void ReadControl(Connection& connection);
  void SendSome(Connection& connection);
  void Start(Connection& connection, std::int64_t firstCase, bool withProbe);
  void Finish(Connection& connection, const char* why);
  void BreakOff(Connection& connection);
  void AbortAll();
  void Drop(Connection& connection, const char* why);
  void Event(const std::string& text) const;

  const CaseSource& source_;
  ByteOrder order_;
  ServeOptions options_;
  ServeStats stats_;
  std::vector<int> listeners_;
  std::vector<std::unique_ptr<Connection>> connections_;
  int port_ = 0;
  bool servedAny_ = false;
  std::int64_t idleSinceMs_ = 0;
};

}  // namespace feed
}  // namespace drav
