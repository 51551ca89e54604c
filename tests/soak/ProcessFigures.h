#pragma once
// What a soak run watches in a process: its open descriptors, its resident
// memory now and at its peak, and (in our own process) the bytes malloc
// hands out. A leak of a descriptor or of a few bytes per case or per
// cycle shows as growth of these figures over a long run.
#include <sys/types.h>

#include <string>

namespace drav {
namespace soak {

struct ProcessFigures {
  int descriptors = -1;     // entries of /proc/PID/fd
  long rssKiB = -1;         // VmRSS
  long hwmKiB = -1;         // VmHWM, the peak of VmRSS
  long long heapBytes = -1; // bytes in use from malloc; our own process only

  // The figures of this process.
  static ProcessFigures OfSelf();
  // The figures of another process of ours (heapBytes stays -1); every
  // figure stays -1 when the process has gone.
  static ProcessFigures Of(pid_t pid);

  // "fds 5, rss 3120 KiB, hwm 3120 KiB, heap 81234 B"
  std::string Text() const;
};

}  // namespace soak
}  // namespace drav
