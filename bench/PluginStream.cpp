#include "bench/PluginStream.h"

#include <dlfcn.h>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/ServerDataManager.h"

namespace drav {
namespace bench {
namespace {

using Entry = bool (*)(DACAdapterBase*);

// The plug-in stays loaded for the life of the process: sources and
// iterators it made must never outlive its code.
Entry LoadEntry(std::string& error) {
  static void* handle = dlopen(DRAV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = std::string("cannot load ") + DRAV_PLUGIN_PATH + ": " + (reason ? reason : "");
    return nullptr;
  }
  void* symbol = dlsym(handle, "ProcessDACSyntax");
  if (!symbol) error = std::string(DRAV_PLUGIN_PATH) + " has no ProcessDACSyntax";
  return reinterpret_cast<Entry>(symbol);
}

// The plug-in's error callback is a plain function; one command runs at a
// time, so its messages gather here.
std::string messages;
void Collect(const char* text, int) {
  messages += text ? text : "";
  messages += "\n";
}

std::string VariableList(int slots) {
  std::string list;
  for (int i = 1; i <= slots; ++i) list += " v" + std::to_string(i) + " F8.2";
  return list;
}

}  // namespace

std::unique_ptr<PluginStream> PluginStream::Open(const std::string& commandText,
                                                 std::string& error) {
  const Entry entry = LoadEntry(error);
  if (!entry) return nullptr;
  TokenizeResult tokens = TokenizeStreamCommand(commandText);
  if (!tokens.ok) {
    error = tokens.error;
    return nullptr;
  }
  messages.clear();
  CommandAdapter adapter(std::move(tokens.tokens), &Collect);
  if (!entry(&adapter)) {
    error = "the plug-in refused the command: " + messages;
    return nullptr;
  }
  std::unique_ptr<PluginStream> stream(new PluginStream);
  stream->source_ = ServerDataManager::GetInstance().TakeLast();
  if (!stream->source_) {
    error = "the plug-in registered no source";
    return nullptr;
  }
  stream->obs_.reset(new OBS(stream->source_->GetObsAreaSize()));
  stream->iterator_.reset(stream->source_->MakeIterator(stream->obs_.get()));
  if (!stream->iterator_) {
    error = "the source gave no iterator";
    return nullptr;
  }
  return stream;
}

PluginStream::~PluginStream() {
  iterator_.reset();
  source_.reset();
}

std::string PipeCommand(const std::string& path, int slots) {
  return "GET DATA /TYPE = STREAM /PIPE = '" + path + "' /VARIABLES =" + VariableList(slots) + " .";
}

std::string SocketCommand(int port, int slots) {
  return "GET DATA /TYPE = STREAM /SOCKET = inet:127.0.0.1:" + std::to_string(port) +
         " /VARIABLES =" + VariableList(slots) + " .";
}

}  // namespace bench
}  // namespace drav
