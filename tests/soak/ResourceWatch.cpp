#include "tests/soak/ResourceWatch.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace drav {
namespace soak {

ResourceWatch::ResourceWatch(std::string run, const SoakConfig& config)
    : run_(std::move(run)), config_(config) {
  // The watch's own allocations must not count as growth: room for every
  // sample is made now (labels are short enough to live inside their
  // strings), and standard output gets its buffer before the first figure.
  periodic_.reserve(static_cast<std::size_t>(config.samples) + 2);
  std::printf("  %s | figures of the host (and of the feeder)\n", run_.c_str());
}

void ResourceWatch::Print(const Point& point) const {
  std::string line = "  " + run_ + " | " + point.label + ": " + point.host.Text();
  if (point.feeder.rssKiB >= 0)
    line += " | feeder fds " + std::to_string(point.feeder.descriptors) + ", rss " +
            std::to_string(point.feeder.rssKiB) + " KiB";
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void ResourceWatch::Start() {
  start_ = Point{"start", ProcessFigures::OfSelf(), ProcessFigures()};
  Print(start_);
}

void ResourceWatch::Sample(const std::string& label, pid_t feeder) {
  Point point{label, ProcessFigures::OfSelf(), ProcessFigures()};
  if (feeder > 0) point.feeder = ProcessFigures::Of(feeder);
  periodic_.push_back(point);
  Print(point);
}

void ResourceWatch::End() {
  end_ = Point{"end", ProcessFigures::OfSelf(), ProcessFigures()};
  Print(end_);
}

int ResourceWatch::DescriptorGrowth() const { return end_.host.descriptors - start_.host.descriptors; }

long ResourceWatch::RssGrowthKiB() const {
  if (periodic_.empty()) return end_.host.rssKiB - start_.host.rssKiB;
  long largest = end_.host.rssKiB;
  for (const Point& point : periodic_) largest = std::max(largest, point.host.rssKiB);
  return largest - periodic_.front().host.rssKiB;
}

long long ResourceWatch::HeapGrowthBytes() const {
  long long growth = end_.host.heapBytes - start_.host.heapBytes;
  for (const Point& point : periodic_)
    growth = std::max(growth, point.host.heapBytes - periodic_.front().host.heapBytes);
  return growth;
}

std::vector<ProcessFigures> ResourceWatch::LiveFeederSamples() const {
  std::vector<ProcessFigures> live;
  for (const Point& point : periodic_)
    if (point.feeder.rssKiB >= 0) live.push_back(point.feeder);
  return live;
}

void ResourceWatch::CheckFeeder() const {
  // A feeder that serves the whole run is project code too: it must not
  // grow either. Samples taken after it exited are left out.
  const std::vector<ProcessFigures> live = LiveFeederSamples();
  if (live.size() < 2) return;
  const int descriptors = live.back().descriptors - live.front().descriptors;
  long rss = 0;
  for (const ProcessFigures& figures : live) rss = std::max(rss, figures.rssKiB - live.front().rssKiB);
  std::printf("  %s | feeder growth: fds %+d, rss %+ld KiB\n", run_.c_str(), descriptors, rss);
  std::fflush(stdout);
  if (descriptors > 0) Fail(run_ + ": the feeder holds " + std::to_string(descriptors) + " descriptors more");
  if (rss > config_.rssToleranceKiB) Fail(run_ + ": the feeder's resident memory grew by " + std::to_string(rss) + " KiB");
}

void ResourceWatch::Check() const {
  // The kernel updates the peak lazily, so a later sample may read lower:
  // the growth is the highest reading against the first periodic one.
  const Point& base = periodic_.empty() ? start_ : periodic_.front();
  long hwm = end_.host.hwmKiB - base.host.hwmKiB;
  for (const Point& point : periodic_) hwm = std::max(hwm, point.host.hwmKiB - base.host.hwmKiB);
  std::printf("  %s | growth: fds %+d, rss %+ld KiB, hwm %+ld KiB, heap %+lld B "
              "(tolerances: 0 fds, %ld KiB, %lld B)\n",
              run_.c_str(), DescriptorGrowth(), RssGrowthKiB(), hwm, HeapGrowthBytes(),
              config_.rssToleranceKiB, config_.heapToleranceBytes);
  std::fflush(stdout);
  CheckFeeder();
  if (DescriptorGrowth() != 0)
    Fail(run_ + ": " + std::to_string(DescriptorGrowth()) + " descriptors more at the end than at the start");
  for (const Point& point : periodic_) {
    if (point.host.descriptors != periodic_.front().host.descriptors)
      Fail(run_ + ": descriptors went from " + std::to_string(periodic_.front().host.descriptors) +
           " to " + std::to_string(point.host.descriptors) + " at " + point.label);
  }
  if (RssGrowthKiB() > config_.rssToleranceKiB)
    Fail(run_ + ": resident memory grew by " + std::to_string(RssGrowthKiB()) + " KiB");
  if (HeapGrowthBytes() > config_.heapToleranceBytes)
    Fail(run_ + ": bytes in use from malloc grew by " + std::to_string(HeapGrowthBytes()));
}

}  // namespace soak
}  // namespace drav
