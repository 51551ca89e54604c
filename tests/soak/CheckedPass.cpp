#include "tests/soak/CheckedPass.h"

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/DravServerErrorText.h"
#include "host/ServerDataManager.h"

extern "C" bool ProcessDACSyntax(DACAdapterBase* adapter);

namespace drav {
namespace soak {
namespace {

// The plug-in's message callback is a plain function: the last message
// waits here to be quoted in a failure.
std::string lastMessage;

void KeepMessage(const char* text, int /*severity*/) { lastMessage = text != nullptr ? text : ""; }

}  // namespace

std::string StreamCommand(const StreamPlace& place, bool seekable) {
  std::string command = "GET DATA /TYPE = STREAM";
  if (place.transport == Transport::kPipe) {
    command += " /PIPE = '" + place.dataPipe + "'";
    if (!place.rewindPipe.empty()) command += " /REWINDABLE = '" + place.rewindPipe + "'";
  } else {
    command += " /SOCKET = " + std::to_string(place.port) + " /HOST = 127.0.0.1";
    if (place.rewindable) command += " /REWINDABLE";
  }
  if (seekable) command += " /SEEKABLE";
  return command + " /VARIABLES = " + kSoakVariables + " .";
}

std::unique_ptr<DRAV_DataSource> OpenSoakSource(const std::string& command) {
  static const bool catalogsSet = (DravServerErrorText::SetCatalogDir(DRAV_SOURCE_DIR "/catalogs"), true);
  (void)catalogsSet;
  TokenizeResult tokens = TokenizeStreamCommand(command);
  if (!tokens.ok) Fail("not a stream command: " + tokens.error + ": " + command);
  lastMessage.clear();
  bool accepted = false;
  {
    CommandAdapter adapter(std::move(tokens.tokens), &KeepMessage);
    accepted = ProcessDACSyntax(&adapter);
  }
  std::unique_ptr<DRAV_DataSource> source = ServerDataManager::GetInstance().TakeLast();
  if (!accepted || !source) Fail("the plug-in refused " + command + ": " + lastMessage);
  return source;
}

std::int64_t ReadChecked(DRAV_InputCaseIterator& it, const OBS& obs, ExpectedCases& expected,
                         std::int64_t first, const std::string& where,
                         const std::function<void(std::int64_t)>& onCase) {
  std::int64_t read = 0;
  while (it.Next() == 1) {
    expected.Check(obs.Data(), first + read, where);
    ++read;
    if (onCase) onCase(read);
  }
  return read;
}

}  // namespace soak
}  // namespace drav
