#pragma once
// Follows the figures of the host process (and optionally of a feeder
// process) through a soak run: once before the run touches a stream, at
// regular points while it goes on, and once after everything was closed.
// It prints every sample as it is taken and, at the end, the growth of each
// figure; Check() throws SoakFailure when the figures were not flat.
//
// Flat means: the descriptors after the run are exactly those before it,
// and every periodic sample has the same number; resident memory grows by
// no more than the tolerance from the first periodic sample (which comes
// after the run has warmed up) to the largest later one; malloc's bytes in
// use stay within the tolerance both across the periodic samples and from
// before the run to after it. A feeder sampled along the run must not end
// with more descriptors than it had at the first sample, nor grow its
// resident memory beyond the tolerance.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/soak/ProcessFigures.h"
#include "tests/soak/Soak.h"

namespace drav {
namespace soak {

class ResourceWatch {
 public:
  ResourceWatch(std::string run, const SoakConfig& config);

  void Start();
  // `label` says how far the run is ("cases 1000000"); `feeder` is a feeder
  // process to sample as well, or -1.
  void Sample(const std::string& label, pid_t feeder = -1);
  void End();

  // The growth figures, end against start (descriptors) and from the first
  // periodic sample to the largest later one (memory).
  int DescriptorGrowth() const;
  long RssGrowthKiB() const;
  long long HeapGrowthBytes() const;

  // Prints the summary line and throws SoakFailure when a figure was not flat.
  void Check() const;

 private:
  struct Point {
    std::string label;
    ProcessFigures host;
    ProcessFigures feeder;
  };
  void Print(const Point& point) const;
  std::vector<ProcessFigures> LiveFeederSamples() const;
  void CheckFeeder() const;

  std::string run_;
  const SoakConfig& config_;
  Point start_, end_;
  std::vector<Point> periodic_;
};

}  // namespace soak
}  // namespace drav
