#include "tests/support/TempDir.h"

#include <unistd.h>

#include <cstdlib>

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

}  // namespace drav::test
