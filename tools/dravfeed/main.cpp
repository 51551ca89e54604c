// dravfeed: serves a CSV file or generated cases to a stream reader.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "feeder/CsvCases.h"
#include "feeder/FeederError.h"
#include "feeder/GeneratedCases.h"
#include "feeder/PipeServer.h"
#include "feeder/SocketServer.h"
#include "feeder/VariableList.h"
#include "tools/dravfeed/FeedOptions.h"

namespace {

enum ExitStatus { kDone = 0, kRefused = 1, kUsage = 2, kFailed = 3 };

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) { stopSignal = signal; }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that goes away must cost us a pass, never the process.
  signal(SIGPIPE, SIG_IGN);
}

void Say(const std::string& text) { std::cerr << "dravfeed: " << text << std::endl; }

std::unique_ptr<drav::feed::CaseSource> LoadCases(const dravfeed::FeedOptions& options,
                                                  const drav::feed::RecordBuilder& builder) {
  using namespace drav::feed;
  if (options.generate)
    return std::make_unique<GeneratedCases>(builder, options.generateCount);
  if (options.csvPath == "-") {
    std::stringstream all;
    all << std::cin.rdbuf();
    return std::make_unique<MemoryCases>(LoadCsvCases(all, builder, options.header));
  }
  std::ifstream file(options.csvPath, std::ios::binary);
  if (!file) throw InputError("cannot open " + options.csvPath);
  try {
    return std::make_unique<MemoryCases>(LoadCsvCases(file, builder, options.header));
  } catch (const InputError& error) {
    throw InputError(options.csvPath + ", " + error.what());
  }
}

drav::feed::ServeStats Serve(const dravfeed::FeedOptions& options,
                             const drav::feed::CaseSource& cases) {
  using namespace drav::feed;
  ServeOptions serve;
  serve.cancel = &stopSignal;
  serve.lingerMs = options.lingerMs;
  serve.forever = options.forever;
  if (options.verbose) serve.onEvent = Say;
  std::string count = std::to_string(cases.CaseCount()) + " cases";
  if (options.useSocket) {
    SocketServer server(cases, options.order, options.port, options.bindAddress, serve);
    Say("listening on port " + std::to_string(server.Port()) + ", " + count);
    return server.Serve();
  }
  PipeServer server(cases, options.order, options.pipePath, options.rewindPipePath, serve);
  Say("serving " + count + " on " + options.pipePath);
  return server.Serve();
}

}  // namespace

int main(int argc, char** argv) {
  dravfeed::FeedOptions options;
  try {
    options = dravfeed::ParseFeedOptions(argc, argv);
  } catch (const std::invalid_argument& error) {
    Say(error.what());
    return kUsage;
  }
  if (options.help) {
    std::cout << dravfeed::HelpText();
    return kDone;
  }
  if (options.version) {
    std::cout << "dravfeed " << DRAV_VERSION << "\n";
    return kDone;
  }
  InstallSignals();
  try {
    drav::feed::VariableList list = drav::feed::VariableList::Parse(options.variables);
    drav::feed::RecordBuilder builder(list, options.order);
    std::unique_ptr<drav::feed::CaseSource> cases = LoadCases(options, builder);
    drav::feed::ServeStats stats = Serve(options, *cases);
    if (stats.cancelled) return 128 + stopSignal;
    if (options.verbose)
      Say("done: " + std::to_string(stats.passes) + " passes, " + std::to_string(stats.rewinds) +
          " rewinds, " + std::to_string(stats.seeks) + " seeks");
    return kDone;
  } catch (const drav::feed::InputError& error) {
    Say(error.what());
    return kRefused;
  } catch (const drav::feed::FeederError& error) {
    Say(error.what());
    return kFailed;
  } catch (const std::bad_alloc&) {
    Say("out of memory");
    return kFailed;
  }
}
