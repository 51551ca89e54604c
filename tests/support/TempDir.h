#pragma once
// A private temporary directory for one test, removed with its files (and empty directories).
#include <string>
#include <vector>

namespace drav::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` inside the directory (nothing is created).
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Creates a named pipe `name` inside the directory and returns its path.
  std::string MakeFifo(const std::string& name) const;
  // Creates a regular file holding `bytes` and returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes) const;
  // The names in the directory: what a program under test left behind.
  std::vector<std::string> Entries() const { return EntriesOf(path_); }
  // The names in any folder, without "." and "..".
  static std::vector<std::string> EntriesOf(const std::string& folder);

 private:
  std::string path_;
};

}  // namespace drav::test
