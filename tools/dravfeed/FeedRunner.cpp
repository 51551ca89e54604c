#include "tools/dravfeed/FeedRunner.h"

#include <iostream>
#include <new>

#include "dravfeed/CaptureFile.h"
#include "dravfeed/FeederError.h"
#include "feeder/sources/VariableInference.h"
#include "dravfeed/VariableList.h"
#include "tools/dravfeed/Console.h"
#include "tools/dravfeed/FeedCases.h"
#include "tools/dravfeed/Serving.h"
#if DRAV_HAVE_JETSTREAM
#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamPublisher.h"
#endif

namespace dravfeed {
namespace {

int Finish(const FeedOptions& options, const drav::feed::ServeStats& stats, int status) {
  if (stats.cancelled) return 128 + stopSignal;
  if (options.verbose)
    Say("done: " + std::to_string(stats.passes) + " passes, " + std::to_string(stats.rewinds) +
        " rewinds, " + std::to_string(stats.seeks) + " seeks");
  return status;
}

// --replay: a cut capture serves its whole blocks, and says so before and
// after, since its reader cannot tell.
int Replay(FeedOptions& options) {
  drav::feed::CapturedCases captured(options.replayPath);
  options.order = captured.Order();
  const bool cut = captured.CutAt() >= 0;
  const std::string where = options.replayPath + " is cut at byte " + std::to_string(captured.CutAt()) +
                            " (it has no end block): ";
  if (cut) Say(where + "serving the " + std::to_string(captured.CaseCount()) + " cases of its whole blocks");
  const drav::feed::ServeStats stats = ServeCases(options, captured.Variables(), captured, false);
  if (cut && !stats.cancelled)
    Say(where + "any case its feeder served after the first " + std::to_string(captured.CaseCount()) + " is lost");
  return Finish(options, stats, cut ? kFailed : kDone);
}

#if DRAV_HAVE_JETSTREAM
// --publish: appends the cases instead of serving them.
int Publish(const FeedOptions& options, const drav::feed::RecordBuilder& builder, FeedCases& cases) {
  drav::feed::PublishOptions publish;
  publish.create = options.create;
  publish.stream = SettingsOf(options.nats);
  publish.security = SecurityOf(options.nats);
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
  return cases.Finish();
}
#else
// Without the NATS client the options refuse --publish.
int Publish(const FeedOptions&, const drav::feed::RecordBuilder&, FeedCases&) { return kUsage; }
#endif

// Without --variables, the list is inferred from the CSV file and said.
void InferVariables(FeedOptions& options) {
  const drav::feed::InferredList inferred =
      drav::feed::InferCsvVariables(options.csvPath, static_cast<std::size_t>(options.inferRows), options.csv);
  options.variables = inferred.text;
  options.csv.headerInOrder = true;
  Say("variables inferred from the header and " + std::to_string(inferred.records) +
      " records: " + options.variables);
}

// Serves (or publishes) the cases of --csv, --generate or --from.
int Feed(FeedOptions& options) {
  const bool infer = options.variables.empty();
  if (infer) InferVariables(options);
  const drav::feed::VariableList list = drav::feed::VariableList::Parse(options.variables);
  const drav::feed::RecordBuilder builder(list, options.order,
                                          infer ? drav::feed::TextFit::kExact : drav::feed::TextFit::kAdapt);
  FeedCases cases(options, builder);
  if (!options.publishUrl.empty()) return Publish(options, builder, cases);
  const drav::feed::ServeStats stats = ServeCases(options, options.variables, cases.Source(), cases.Live());
  return Finish(options, stats, cases.Finish());
}

int Run(FeedOptions& options) {
#if DRAV_HAVE_JETSTREAM
  // Without the NATS client the options refuse --info.
  if (!options.nats.infoUrl.empty()) {
    std::cout << ReportText(drav::feed::jetstream::ReadStreamReport(options.nats.infoUrl,
                                                                    SecurityOf(options.nats), 5000));
    return kDone;
  }
#endif
  if (!options.replayPath.empty()) return Replay(options);
  return Feed(options);
}

}  // namespace

int RunFeeder(FeedOptions options) {
  InstallStopSignals();
  try {
    return Run(options);
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

}  // namespace dravfeed
