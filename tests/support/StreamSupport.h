#pragma once
// Shared pieces of the tests that read streams: the test records, a source over a feeder with the test dictionary,
// passes read into byte strings, and commands run through the plug-in's entry point as the host runs them.
#include <functional>

#include "host/CommandAdapter.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"
#include "parser/StreamParser.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "stream/DRAV_StreamIterator.h"
#include "tests/support/TestFeeder.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

extern "C" bool ProcessDACSyntax(DACAdapterBase* adapter);

namespace drav::test {

// The dictionary every stream test uses: 32-byte records, x at 0, s at 8 (padded with blanks), y at 24.
constexpr const char* kTestVariables = "x F8.2 s A10 y F8.2";

// The command that reads `pipe` with the test dictionary, rewound through `rewind` when one is named.
inline std::string PipeCommand(const std::string& pipe, const std::string& rewind = "") {
  std::string text = "GET DATA /TYPE = STREAM /PIPE = '" + pipe + "'";
  if (!rewind.empty()) text += " /REWINDABLE = '" + rewind + "'";
  return text + " /VARIABLES = " + kTestVariables + ".";
}

// Records whose every field differs from case to case, built by the feeder library with numbers in `order`.
inline std::vector<std::string> TestRecords(int count, feed::ByteOrder order = feed::ByteOrder::kNative) {
  static const feed::VariableList list = feed::VariableList::Parse(kTestVariables);
  const feed::RecordBuilder builder(list, order);
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i) {
    std::string record(list.RecordBytes(), '\0');
    builder.SetNumber(&record[0], 0, i + 0.5);
    builder.SetString(&record[0], 1, "case" + std::to_string(i));
    builder.SetNumber(&record[0], 2, -1000.25 * i);
    records.push_back(record);
  }
  return records;
}

// One append a record: std::accumulate would copy the growing string each time.
inline std::string Joined(const std::vector<std::string>& records) {
  std::string bytes;
  for (const std::string& record : records) bytes += record;
  return bytes;
}

// A source with the dictionary the parser reads from `variables`; throws what the source's constructor throws.
inline std::unique_ptr<DRAV_StreamDataSrc> OpenSource(const std::string& name, const char* rewind, bool seekable,
                                                      bool useSocket,
                                                      const std::string& variables = kTestVariables) {
  auto source = std::make_unique<DRAV_StreamDataSrc>(name.c_str(), rewind, seekable, useSocket);
  const std::string text = "GET DATA /TYPE = STREAM /PIPE = 'unused' /VARIABLES = " + variables + "\n.";
  StreamParser parser(text.c_str(), nullptr);
  if (parser.ParseToExecutor() != 0) throw std::runtime_error(parser.GetErrorMesToken());
  source->SetDictionary(&parser);
  return source;
}

// Reads up to `limit` cases (all when negative) in one pass that starts with a seek to `seekTo` (when >= 0).
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

// A command run through the entry point as the host runs it: whether it was accepted, the messages the host's
// callback received (text, severity), and the source taken back from the registry.
struct HostRun {
  bool accepted = false;
  std::vector<std::pair<std::string, int>> messages;
  std::unique_ptr<DRAV_DataSource> source;
};

// `entry` is the plug-in's entry point: the one linked in, or one a test loaded with dlopen.
inline HostRun RunHostCommand(const std::string& command, bool (*entry)(DACAdapterBase*) = ProcessDACSyntax) {
  static std::vector<std::pair<std::string, int>>* collected = nullptr;
  HostRun run;
  TokenizeResult tokens = TokenizeStreamCommand(command);
  if (!tokens.ok) throw std::runtime_error(tokens.error);
  collected = &run.messages;
  CommandAdapter adapter(tokens.tokens, [](const char* text, int severity) { collected->emplace_back(text, severity); });
  run.accepted = entry(&adapter);
  collected = nullptr;
  if (run.accepted) run.source = ServerDataManager::GetInstance().TakeLast();
  return run;
}

// The descriptors this process holds on `path` (also once it is unlinked) whose flags, masked by `mask`, are `flags`:
// the plug-in's own writer, its O_PATH descriptor, a reader left open.
inline int HeldOpen(const std::string& path, int mask, int flags) {
  int count = 0;
  for (const std::string& name : TempDir::EntriesOf("/proc/self/fd")) {
    char target[512];
    const ssize_t n = readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target);
    if (n < 0 || std::string(target, static_cast<std::size_t>(n)).rfind(path, 0) != 0) continue;
    const int held = fcntl(std::stoi(name), F_GETFL);
    count += held >= 0 && (held & mask) == flags;
  }
  return count;
}

}  // namespace drav::test
