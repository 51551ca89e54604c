// The plug-in's only entry point: the host calls it once per
// GET DATA /TYPE = STREAM command.
#include <memory>
#include <string>

#include "entry/CommandTextBuilder.h"
#include "host/DACAdapter.h"
#include "host/DravErrorMonitor.h"
#include "host/DravExport.h"
#include "host/ErrorText.h"
#include "host/ServerDataManager.h"
#include "parser/MessageIds.h"
#include "parser/StreamParser.h"
#include "stream/DRAV_StreamDataSrc.h"

namespace {

// Builds the data source and its dictionary; on failure posts the message
// the user sees on the parser and returns null. Any int other than the
// three opening failures (the source throws none today, but the host's
// classes could) is posted as 2263 with the stream name, so that a refused
// command always carries a message.
std::unique_ptr<DRAV_StreamDataSrc> BuildSource(StreamParser& parser) {
  using namespace message_id;
  try {
    const char* name = parser.GetName();
    const char* rewind = parser.GetRewindName();
    const bool seekable = parser.GetSeekFlag();
    const bool useSocket = parser.GetSockUse();
    auto source = std::make_unique<DRAV_StreamDataSrc>(name, rewind, seekable, useSocket);
    source->SetDictionary(&parser);
    return source;
  } catch (int id) {
    if (id == static_cast<int>(kRewindPipeNotOpened))
      parser.PostErrorMsg(kRewindPipeNotOpened, parser.GetRewindName(), false);
    else if (id == static_cast<int>(kPipeNotOpened) || id == static_cast<int>(kSocketNotConnected))
      parser.PostErrorMsg(static_cast<unsigned int>(id), parser.GetName(), false);
    else
      parser.PostErrorMsg(kNotGetData, parser.GetName(), false);
  } catch (...) {
    parser.PostErrorMsg(kNotGetData, parser.GetName(), false);
  }
  return nullptr;
}

}  // namespace

extern "C" DRAV_EXPORT bool ProcessDACSyntax(DACAdapterBase* adapter) {
  if (adapter == nullptr) return false;
  DravErrorMonitor::Callback callback = adapter->GetErrorCallback();
  DACTokenSource* tokens = adapter->GetTokenSource();
  // Declared before the monitor so that the parser goes first, then the
  // monitor, then the text.
  std::string commandText;
  DravErrorMonitor monitor(callback);
  if (tokens == nullptr) return false;
  commandText = drav::entry::RebuildCommandText(*tokens);

  StreamParser parser(commandText.c_str(), adapter);
  bool succeeded = parser.ParseToExecutor() == 0;
  if (succeeded) {
    std::unique_ptr<DRAV_StreamDataSrc> source = BuildSource(parser);
    succeeded = source != nullptr;
    if (succeeded) {
      // The registry owns the source from here on.
      DRAV_StreamDataSrc& registered = *source.release();
      ServerDataManager::GetInstance().Add(registered, std::string(), false);
    }
  }
  if (succeeded) {
    for (const ErrorText& warning : *parser.GetWarningList()) monitor.Report(warning);
  } else {
    monitor.Report(ErrorText(ErrorString(parser.GetErrorMesToken()), ErrorText::kError, 0));
  }
  return succeeded;
}
