#include "host/DravServerErrorText.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Catalog {
  bool readable = false;
  std::map<long, std::string> texts;
};

struct CatalogCache {
  std::mutex mutex;
  std::string dir;  // empty: not chosen yet
  std::map<std::string, Catalog> catalogs;
};

CatalogCache& Cache() {
  static CatalogCache cache;
  return cache;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// `base` + "/" + `relative`, with each leading ".." taking a folder off
// `base`, so that messages name the folder as a user would write it.
std::string JoinRelative(std::string base, std::string relative) {
  while (relative.compare(0, 3, "../") == 0 && base.size() > 1 && ParentOf(base) != base) {
    base = ParentOf(base);
    relative.erase(0, 3);
  }
  return base + "/" + relative;
}

// DRAVSTREAM_CATALOGS when set; else the catalogs relative to this library,
// where an installation puts them, then where the build tree keeps its copy.
// When neither exists the installed folder is named, so that the message
// about an unreadable catalog points where the catalogs belong.
std::string FindCatalogDir() {
  const char* fromEnvironment = std::getenv("DRAVSTREAM_CATALOGS");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindCatalogDir), &info) == 0 || !info.dli_fname) return "catalogs";
  const std::string libDir = ParentOf(info.dli_fname);
  const std::string installed = JoinRelative(libDir, DRAV_INSTALLED_CATALOG_DIR);
  const std::string built = JoinRelative(libDir, DRAV_BUILD_CATALOG_DIR);
  if (!IsDirectory(installed) && IsDirectory(built)) return built;
  return installed;
}

// The identifier of a catalog line: the whole field must be a number.
bool ParseIdentifier(const std::string& field, long& id) {
  if (field.empty()) return false;
  char* end = nullptr;
  errno = 0;
  id = std::strtol(field.c_str(), &end, 10);
  return errno == 0 && end == field.c_str() + field.size();
}

// Reads "id<TAB>text" lines; "#" starts a comment line. A line without a tab
// or with an identifier that is not a number is skipped.
Catalog ReadCatalog(const std::string& path) {
  Catalog catalog;
  std::ifstream in(path);
  catalog.readable = in.is_open();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string::size_type tab = line.find('\t');
    long id = 0;
    if (tab == std::string::npos || !ParseIdentifier(line.substr(0, tab), id)) continue;
    catalog.texts[id] = line.substr(tab + 1);
  }
  return catalog;
}

}  // namespace

DravServerErrorText::DravServerErrorText(const char* catalogFile, long id) {
  const std::string file = catalogFile ? catalogFile : "";
  const std::string prefix = "[" + std::to_string(id) + "] ";
  CatalogCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.dir.empty()) cache.dir = FindCatalogDir();
  auto found = cache.catalogs.find(file);
  if (found == cache.catalogs.end()) {
    found = cache.catalogs.emplace(file, ReadCatalog(cache.dir + "/" + file)).first;
  }
  const Catalog& catalog = found->second;
  auto entry = catalog.texts.find(id);
  if (entry != catalog.texts.end()) {
    text_ = prefix + entry->second;
  } else if (!catalog.readable) {
    text_ = prefix + "The message catalog " + file + " could not be read from " + cache.dir +
            ", so this message has no text.";
  } else {
    text_ = prefix + "The message catalog " + file + " in " + cache.dir +
            " has no text for this message.";
  }
}

void DravServerErrorText::SetCatalogDir(const std::string& dir) {
  CatalogCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.dir = dir;
  cache.catalogs.clear();
}
