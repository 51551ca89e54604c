#pragma once
// Shared pieces of the tests that read streams: the test records, a source
// over a feeder with the test dictionary, passes read into byte strings,
// commands run through the plug-in's entry point as the host runs them, and
// the guards those tests put around signals.
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/DravCaseIterator.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"
#include "parser/StreamParser.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "stream/DRAV_StreamIterator.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestFeeder.h"
#include "tests/support/Watchdog.h"

extern "C" bool ProcessDACSyntax(DACAdapterBase* adapter);

namespace drav {
namespace test {

// The dictionary every stream test uses, and the 32 bytes of its records:
// x at 0, s (padded with blanks) at 8, y at 24.
constexpr const char* kTestVariables = "x F8.2 s A10 y F8.2";

// Records whose every field differs from case to case; `swapped` writes the
// numbers in the other byte order.
inline std::vector<std::string> TestRecords(int count, bool swapped = false) {
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i) {
    std::string record(32, ' ');
    const double numbers[] = {i + 0.5, -1000.25 * i};
    for (int n = 0; n < 2; ++n) {
      char* at = &record[n == 0 ? 0 : 24];
      std::memcpy(at, &numbers[n], sizeof numbers[n]);
      if (swapped) std::reverse(at, at + sizeof numbers[n]);
    }
    const std::string text = "case" + std::to_string(i);
    record.replace(8, text.size(), text);
    records.push_back(record);
  }
  return records;
}

inline std::string Joined(const std::vector<std::string>& records) {
  std::string bytes;
  for (const std::string& record : records) bytes += record;
  return bytes;
}

// Builds a source with the test dictionary from the parser's own reading of
// a variable list. Throws what the source's constructor throws.
inline std::unique_ptr<DRAV_StreamDataSrc> OpenSource(const std::string& name, const char* rewind,
                                                      bool seekable, bool useSocket,
                                                      const std::string& variables = kTestVariables) {
  auto source = std::make_unique<DRAV_StreamDataSrc>(name.c_str(), rewind, seekable, useSocket);
  CommandAdapter adapter({}, nullptr);
  const std::string text = "GET DATA /TYPE = STREAM /PIPE = 'unused' /VARIABLES = " + variables + "\n.";
  StreamParser parser(text.c_str(), &adapter);
  if (parser.ParseToExecutor() != 0) throw std::runtime_error(parser.GetErrorMesToken());
  source->SetDictionary(&parser);
  return source;
}

// Reads up to `limit` cases (all when negative) in one pass that starts
// with a seek to `seekTo` (when >= 0).
inline std::vector<std::string> ReadPass(const DRAV_DataSource& source, int limit = -1, long long seekTo = -1) {
  OBS obs(source.GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source.MakeIterator(&obs));
  if (seekTo >= 0) it->Seek(seekTo);
  std::vector<std::string> cases;
  while ((limit < 0 || static_cast<int>(cases.size()) < limit) && it->Next() == 1)
    cases.emplace_back(obs.Data(), obs.Bytes());
  return cases;
}

// The message identifier `action` throws, 0 when it throws none.
inline int ThrownBy(const std::function<void()>& action) {
  try {
    action();
  } catch (int id) {
    return id;
  }
  return 0;
}

// A command run through the entry point as the host runs it: the tokens,
// the adapter, and the messages the host's callback received.
struct HostRun {
  bool accepted = false;
  std::vector<std::pair<std::string, int>> messages;  // text, severity
  std::unique_ptr<DRAV_DataSource> source;            // taken from the registry
};

inline std::vector<std::pair<std::string, int>>*& CollectedMessages() {
  static std::vector<std::pair<std::string, int>>* messages = nullptr;
  return messages;
}

inline HostRun RunHostCommand(const std::string& command) {
  HostRun run;
  TokenizeResult tokens = TokenizeStreamCommand(command);
  if (!tokens.ok) throw std::runtime_error(tokens.error);
  CollectedMessages() = &run.messages;
  CommandAdapter adapter(tokens.tokens, [](const char* text, int severity) {
    CollectedMessages()->emplace_back(text, severity);
  });
  run.accepted = ProcessDACSyntax(&adapter);
  CollectedMessages() = nullptr;
  if (run.accepted) run.source = ServerDataManager::GetInstance().TakeLast();
  return run;
}

// The default action of SIGPIPE ends the program: any SIGPIPE the plug-in
// lets through fails the whole test program instead of passing unseen.
class SigpipeIsFatal {
 public:
  SigpipeIsFatal() {
    struct sigaction deflt {};
    deflt.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &deflt, &saved_);
  }
  ~SigpipeIsFatal() { sigaction(SIGPIPE, &saved_, nullptr); }
  SigpipeIsFatal(const SigpipeIsFatal&) = delete;
  SigpipeIsFatal& operator=(const SigpipeIsFatal&) = delete;

 private:
  struct sigaction saved_ {};
};

}  // namespace test
}  // namespace drav
