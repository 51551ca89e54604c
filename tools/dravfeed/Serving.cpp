#include "tools/dravfeed/Serving.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "feeder/records/GetDataCommand.h"
#include "dravfeed/PipeServer.h"
#include "dravfeed/SocketServer.h"
#include "tools/dravfeed/Console.h"

namespace dravfeed {
namespace {

// Once the stream can be reached: the command that reads it, logged, and
// with --print-command on standard output, which is then closed so that a
// reader of it (dravrun -f -) has the whole command.
void AnnounceCommand(const FeedOptions& options, const std::string& variables, int port) {
  drav::feed::StreamAddress address;
  address.pipe = options.pipePath;
  address.rewindPipe = options.rewindPipePath;
  address.socket = options.useSocket;
  address.port = port;
  // By default dravfeed listens on loopback only, where the reader's own
  // machine name may not lead.
  const std::string& bind = options.bindAddress;
  if (bind.empty()) address.host = "localhost";
  else if (bind != "0.0.0.0" && bind != "::") address.host = bind;
  const std::string command = drav::feed::GetDataCommand(address, variables);
  Say("command: " + command);
  if (!options.printCommand) return;
  std::cout << command << std::endl;
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
}

}  // namespace

drav::feed::ServeStats ServeCases(const FeedOptions& options, const std::string& variables,
                                  drav::feed::CaseSource& cases, bool live) {
  using namespace drav::feed;
  ServeOptions serve;
  serve.cancel = &stopSignal;
  serve.lingerMs = options.lingerMs;
  serve.forever = options.forever;
  if (options.verbose) serve.onEvent = Say;
  // Said once, before serving: a live input may have ended already, but its
  // cases are still served as a live input's are.
  const std::string count = live ? "live input" : std::to_string(cases.CaseCount()) + " cases";
  if (options.useSocket) {
    SocketServer server(cases, options.order, options.port, options.bindAddress, serve);
    Say("listening on port " + std::to_string(server.Port()) + ", " + count);
    AnnounceCommand(options, variables, server.Port());
    return server.Serve();
  }
  PipeServer server(cases, options.order, options.pipePath, options.rewindPipePath, serve);
  Say("serving " + count + " on " + options.pipePath);
  AnnounceCommand(options, variables, 0);
  return server.Serve();
}

}  // namespace dravfeed
