#include "tools/dravrun/Plugin.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace dravrun {

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string& error) {
  // RTLD_LOCAL: the plug-in's symbols stay its own, as in a server that
  // loads several plug-ins.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = "cannot load the plug-in " + path + ": " + (reason ? reason : "unknown reason");
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle, "ProcessDACSyntax");
  if (!symbol) {
    error = "the plug-in " + path + " has no entry point ProcessDACSyntax";
    dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<Plugin>(new Plugin(handle, reinterpret_cast<Entry>(symbol)));
}

Plugin::~Plugin() { dlclose(handle_); }

std::string DefaultPluginPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  std::string exe(buffer, static_cast<std::size_t>(length));
  const std::string::size_type slash = exe.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
  const std::string installed = dir + "/" DRAV_INSTALLED_PLUGIN_DIR "/libdravstream.so";
  const std::string built = dir + "/" DRAV_BUILD_PLUGIN_DIR "/libdravstream.so";
  // An installation is what users run; the build tree is the exception.
  // When neither is there, the installed path goes into the error message.
  if (access(installed.c_str(), F_OK) != 0 && access(built.c_str(), F_OK) == 0) return built;
  return installed;
}

}  // namespace dravrun
