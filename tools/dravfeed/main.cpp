// dravfeed: serves a CSV input (read live), generated cases or a capture to a
// stream reader.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "dravfeed/CaptureFile.h"
#include "dravfeed/CaseLog.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/GeneratedCases.h"
#include "feeder/records/GetDataCommand.h"
#include "dravfeed/PipeServer.h"
#include "dravfeed/SocketServer.h"
#include "feeder/sources/VariableInference.h"
#include "dravfeed/VariableList.h"
#include "tools/dravfeed/FeedOptions.h"
#include "tools/dravfeed/LiveFeed.h"
#if DRAV_HAVE_JETSTREAM
#include "dravfeed/JetStreamCases.h"
#include "dravfeed/JetStreamPublisher.h"
#include "dravfeed/JetStreamAdmin.h"
#endif

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

// The input's reader thread speaks too: each line goes out in one write, so
// two messages never interleave (a reader of our standard error looks for
// whole lines such as "dravfeed: serving").
void Say(const std::string& text) {
  const std::string line = "dravfeed: " + text + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// A pass of --from ended at a break in the stream.
bool streamBroke = false;

// Where the cases come from: a capture, cases generated on demand, or a
// case log that a live feed fills while it is served.
struct Cases {
  std::unique_ptr<drav::feed::CaseSource> fixed;
  std::unique_ptr<drav::feed::CaptureWriter> capture;
  std::unique_ptr<drav::feed::CaseLog> log;
  std::unique_ptr<dravfeed::LiveFeed> feed;  // declared last: stops first
  drav::feed::CaseSource& Source() const { return fixed ? *fixed : *log; }
};

bool IsLive(const dravfeed::FeedOptions& options) {
  return !options.csvPath.empty() || options.rate > 0 || !options.capturePath.empty();
}

void OpenCases(const dravfeed::FeedOptions& options, const drav::feed::RecordBuilder& builder,
               Cases& cases) {
  using namespace drav::feed;
#if DRAV_HAVE_JETSTREAM
  // Without the NATS client the options refuse --from.
  if (!options.fromUrl.empty()) {
    // The NATS client's reader thread allocates every message of a replay
    // (tens of kilobytes) and the serving thread frees it: left to itself,
    // malloc hands that memory back to the system and faults it in again,
    // a fifth of the feeder's time.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    JetStreamReadOptions read;
    read.follow = options.follow;
    read.security = dravfeed::SecurityOf(options.nats);
    read.startCase = options.nats.startCase;
    read.startFromEnd = options.nats.startFromEnd;
    read.onProblem = [](const std::string& problem) {
      streamBroke = true;
      Say(problem);
    };
    auto stream = std::make_unique<JetStreamCases>(options.fromUrl, builder.List(), options.order, read);
    if (stream->FirstServedCase() > 0)
      Say("case 0 of every pass is the stream's case " + std::to_string(stream->FirstServedCase()));
    cases.fixed = std::move(stream);
    return;
  }
#endif
  if (!IsLive(options)) {
    cases.fixed = std::make_unique<GeneratedCases>(builder, options.generateCount);
    return;
  }
  cases.log = std::make_unique<CaseLog>(builder.List().RecordBytes(), options.memoryBytes);
  if (!options.capturePath.empty()) {
    cases.capture = std::make_unique<CaptureWriter>(options.capturePath, options.variables, options.order);
    cases.log->CopyTo(cases.capture.get());
  }
  cases.feed = std::make_unique<dravfeed::LiveFeed>(options, builder, *cases.log, Say);
}

// Said once, before serving: a live input may have ended already, but its
// cases are still served as a live input's are.
std::string Describe(const drav::feed::CaseSource& cases, bool live) {
  if (live) return "live input";
  return std::to_string(cases.CaseCount()) + " cases";
}

// Once the stream can be reached: the command that reads it, logged, and
// with --print-command on standard output, which is then closed so that a
// reader of it (dravrun -f -) has the whole command.
void AnnounceCommand(const dravfeed::FeedOptions& options, const std::string& variables, int port) {
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

drav::feed::ServeStats Serve(const dravfeed::FeedOptions& options, const std::string& variables,
                             drav::feed::CaseSource& cases) {
  using namespace drav::feed;
  ServeOptions serve;
  serve.cancel = &stopSignal;
  serve.lingerMs = options.lingerMs;
  serve.forever = options.forever;
  if (options.verbose) serve.onEvent = Say;
  std::string count = Describe(cases, IsLive(options));
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

// --publish: appends the cases instead of serving them.
int Publish(const dravfeed::FeedOptions& options, const drav::feed::RecordBuilder& builder,
            Cases& cases) {
#if DRAV_HAVE_JETSTREAM
  drav::feed::PublishOptions publish;
  publish.create = options.create;
  publish.stream = dravfeed::SettingsOf(options.nats);
  publish.security = dravfeed::SecurityOf(options.nats);
  publish.cancel = &stopSignal;
  drav::feed::PublishResult result = drav::feed::PublishCases(
      options.publishUrl, cases.Source(), builder.List(), options.order, publish);
  if (result.cancelled) return 128 + stopSignal;
  std::string range = result.cases == 0 ? std::string()
                                        : " (cases " + std::to_string(result.firstCase) + " to " +
                                              std::to_string(result.lastCase) + ")";
  Say("published " + std::to_string(result.cases) + " cases in " +
      std::to_string(result.messages) + (result.messages == 1 ? " message" : " messages") + range);
  if (options.verbose && result.retries > 0)
    Say(std::to_string(result.retries) + " times sent batches again (another producer came first, or the server changed)");
  if (cases.feed) {
    cases.feed->Stop();
    return cases.feed->Refused() ? kRefused : cases.feed->Failed() ? kFailed : kDone;
  }
  return kDone;
#else
  // Without the NATS client the options refuse --publish.
  (void)options;
  (void)builder;
  (void)cases;
  return kUsage;
#endif
}

int Finish(const dravfeed::FeedOptions& options, const drav::feed::ServeStats& stats, int status) {
  if (stats.cancelled) return 128 + stopSignal;
  if (options.verbose)
    Say("done: " + std::to_string(stats.passes) + " passes, " + std::to_string(stats.rewinds) +
        " rewinds, " + std::to_string(stats.seeks) + " seeks");
  return status;
}

// --replay: a cut capture serves its whole blocks, and says so before and
// after, since its reader cannot tell.
int Replay(dravfeed::FeedOptions& options) {
  drav::feed::CapturedCases captured(options.replayPath);
  options.order = captured.Order();
  const bool cut = captured.CutAt() >= 0;
  const std::string where = options.replayPath + " is cut at byte " + std::to_string(captured.CutAt()) +
                            " (it has no end block): ";
  if (cut) Say(where + "serving the " + std::to_string(captured.CaseCount()) + " cases of its whole blocks");
  const drav::feed::ServeStats stats = Serve(options, captured.Variables(), captured);
  if (cut && !stats.cancelled)
    Say(where + "any case its feeder served after the first " + std::to_string(captured.CaseCount()) + " is lost");
  return Finish(options, stats, cut ? kFailed : kDone);
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
#if DRAV_HAVE_JETSTREAM
    // Without the NATS client the options refuse --info.
    if (!options.nats.infoUrl.empty()) {
      std::cout << dravfeed::ReportText(drav::feed::jetstream::ReadStreamReport(
          options.nats.infoUrl, dravfeed::SecurityOf(options.nats), 5000));
      return kDone;
    }
#endif
    if (!options.replayPath.empty()) return Replay(options);
    const bool infer = options.variables.empty();
    if (infer) {
      const drav::feed::InferredList inferred =
          drav::feed::InferCsvVariables(options.csvPath, static_cast<std::size_t>(options.inferRows), options.csv);
      options.variables = inferred.text;
      options.csv.headerInOrder = true;
      Say("variables inferred from the header and " + std::to_string(inferred.records) +
          " records: " + options.variables);
    }
    drav::feed::VariableList list = drav::feed::VariableList::Parse(options.variables);
    drav::feed::RecordBuilder builder(list, options.order,
                                      infer ? drav::feed::TextFit::kExact : drav::feed::TextFit::kAdapt);
    Cases cases;
    OpenCases(options, builder, cases);
    if (!options.publishUrl.empty()) return Publish(options, builder, cases);
    drav::feed::ServeStats stats = Serve(options, options.variables, cases.Source());
    int status = streamBroke ? kFailed : kDone;
    if (cases.feed) {
      cases.feed->Stop();
      status = cases.feed->Refused() ? kRefused : cases.feed->Failed() ? kFailed : kDone;
    }
    return Finish(options, stats, status);
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
