#pragma once
// The plug-in, loaded the way a server loads it: dlopen, then dlsym of the
// C entry point ProcessDACSyntax.
#include <memory>
#include <string>

class DACAdapterBase;

namespace dravrun {

class Plugin {
 public:
  using Entry = bool (*)(DACAdapterBase*);

  // Null on failure, with `error` saying why (the path and the loader's reason).
  static std::unique_ptr<Plugin> Load(const std::string& path, std::string& error);
  // Unloads the library: every object the plug-in made must be gone by then.
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  bool ProcessCommand(DACAdapterBase* adapter) const { return entry_(adapter); }

 private:
  Plugin(void* handle, Entry entry) : handle_(handle), entry_(entry) {}
  void* handle_;
  Entry entry_;
};

// The plug-in relative to the running executable's folder: where an
// installation puts it (LIBDIR/dravstream/libdravstream.so), else where the
// build tree does (lib/libdravstream.so); empty when the executable's path
// cannot be read.
std::string DefaultPluginPath();

}  // namespace dravrun
