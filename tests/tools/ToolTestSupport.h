#pragma once
// What the end-to-end tests of the tools share: where the built programs
// are, a private temporary folder, and dravrun's command line.
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/tools/ChildProcess.h"

namespace dravtest {

inline std::string BinaryPath(const std::string& tool) { return std::string(DRAV_BINARY_DIR "/bin/") + tool; }

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/dravrun-test.XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    if (!path_.empty()) RunProcess({"/bin/rm", "-rf", path_});
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// dravrun with `args`, never showing progress.
inline std::vector<std::string> Dravrun(std::vector<std::string> args) {
  args.insert(args.begin(), {BinaryPath("dravrun"), "--no-progress"});
  return args;
}

}  // namespace dravtest
