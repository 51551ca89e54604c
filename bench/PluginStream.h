#pragma once
// A stream opened the way a host opens it: the plug-in loaded with dlopen,
// the command run through ProcessDACSyntax with the host's CommandAdapter,
// the registered source taken back from the registry, and one iterator over
// a case buffer of the source's size.
#include <memory>
#include <string>

#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/OBS.h"

namespace drav {
namespace bench {

class PluginStream {
 public:
  // Null when the plug-in cannot be loaded or refuses the command; `error`
  // then holds the loader's reason or the plug-in's messages.
  static std::unique_ptr<PluginStream> Open(const std::string& commandText, std::string& error);
  // Ends the pass (the iterator first), then releases the source.
  ~PluginStream();
  PluginStream(const PluginStream&) = delete;
  PluginStream& operator=(const PluginStream&) = delete;

  DRAV_InputCaseIterator& Iterator() { return *iterator_; }
  const char* Case() const { return obs_->Data(); }

 private:
  PluginStream() = default;
  std::unique_ptr<DRAV_DataSource> source_;
  std::unique_ptr<OBS> obs_;
  std::unique_ptr<DRAV_InputCaseIterator> iterator_;
};

// The command for a stream of `slots` numeric variables v1..vN.
std::string PipeCommand(const std::string& path, int slots);
std::string SocketCommand(int port, int slots);

}  // namespace bench
}  // namespace drav
