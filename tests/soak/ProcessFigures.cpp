#include "tests/soak/ProcessFigures.h"

#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <sstream>

namespace drav {
namespace soak {
namespace {

int CountDescriptors(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  closedir(dir);
  return count;
}

// Reads "VmRSS:     3120 kB" style lines of /proc/PID/status.
void ReadMemory(const std::string& statusPath, ProcessFigures& figures) {
  std::ifstream status(statusPath);
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream words(line);
    std::string key;
    long value = -1;
    words >> key >> value;
    if (key == "VmRSS:") figures.rssKiB = value;
    if (key == "VmHWM:") figures.hwmKiB = value;
  }
}

}  // namespace

ProcessFigures ProcessFigures::OfSelf() {
  ProcessFigures figures;
  // The count includes the descriptor of the directory being read: one
  // more than the process holds otherwise, the same at every sample.
  figures.descriptors = CountDescriptors("/proc/self/fd");
  ReadMemory("/proc/self/status", figures);
  struct mallinfo2 heap = mallinfo2();
  figures.heapBytes = static_cast<long long>(heap.uordblks + heap.hblkhd);
  return figures;
}

ProcessFigures ProcessFigures::Of(pid_t pid) {
  ProcessFigures figures;
  const std::string base = "/proc/" + std::to_string(pid);
  figures.descriptors = CountDescriptors(base + "/fd");
  ReadMemory(base + "/status", figures);
  return figures;
}

std::string ProcessFigures::Text() const {
  std::ostringstream out;
  out << "fds " << descriptors << ", rss " << rssKiB << " KiB, hwm " << hwmKiB << " KiB";
  if (heapBytes >= 0) out << ", heap " << heapBytes << " B";
  return out.str();
}

}  // namespace soak
}  // namespace drav
