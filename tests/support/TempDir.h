#pragma once
// A private temporary directory for one test, removed with its files (and empty directories).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace drav::test {

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dravtest.XXXXXX";
    if (mkdtemp(&path_[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {  // an entry a test made a directory (empty) is not unlinkable
    for (const std::string& name : Entries())
      if (unlink(File(name).c_str()) != 0) rmdir(File(name).c_str());
    rmdir(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` inside the directory (nothing is created).
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string MakeFifo(const std::string& name) const {
    std::string path = File(name);
    if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path);
    return path;
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) const {
    std::string path = File(name);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
  }
  // The bytes of the file at any `path`; empty when it cannot be read.
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The names in the directory: what a program under test left behind.
  std::vector<std::string> Entries() const { return EntriesOf(path_); }
  // The names in any folder, without "." and "..".
  static std::vector<std::string> EntriesOf(const std::string& folder) {
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

 private:
  std::string path_;
};

}  // namespace drav::test
