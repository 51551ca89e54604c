#include "host/DravServerErrorText.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace {

using Catalog = std::map<long, std::string>;

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

// The catalogs lie beside the installed or built binaries; the source tree
// the library was built from is the last resort.
std::string FindCatalogDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindCatalogDir), &info) != 0 && info.dli_fname) {
    std::string libDir = ParentOf(info.dli_fname);
    for (const std::string& candidate :
         {libDir + "/catalogs", libDir + "/../catalogs", libDir + "/../share/dravstream/catalogs"}) {
      if (IsDirectory(candidate)) return candidate;
    }
  }
#ifdef DRAV_SOURCE_CATALOG_DIR
  return DRAV_SOURCE_CATALOG_DIR;
#else
  return "catalogs";
#endif
}

// Reads "id<TAB>text" lines; "#" starts a comment line.
Catalog ReadCatalog(const std::string& path) {
  Catalog catalog;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string::size_type tab = line.find('\t');
    if (tab == std::string::npos) continue;
    try {
      catalog[std::stol(line.substr(0, tab))] = line.substr(tab + 1);
    } catch (const std::exception&) {
      // A line whose identifier is not a number is skipped.
    }
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
  auto entry = found->second.find(id);
  if (entry != found->second.end()) {
    text_ = prefix + entry->second;
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

std::string DravServerErrorText::CatalogDir() {
  CatalogCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.dir.empty()) cache.dir = FindCatalogDir();
  return cache.dir;
}
