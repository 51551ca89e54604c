#include "tests/support/TempDir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace drav::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dravtest.XXXXXX";
  if (mkdtemp(&path_[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  // An entry a test made a directory (empty) is not unlinkable.
  for (const std::string& name : Entries())
    if (unlink(File(name).c_str()) != 0) rmdir(File(name).c_str());
  rmdir(path_.c_str());
}

std::vector<std::string> TempDir::EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

std::string TempDir::MakeFifo(const std::string& name) const {
  std::string path = File(name);
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path);
  return path;
}

std::string TempDir::WriteFile(const std::string& name, const std::string& bytes) const {
  std::string path = File(name);
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace drav::test
