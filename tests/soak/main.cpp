// soak_stream: the long runs of the stream plug-in against real feeder
// processes. Not part of `make test`; tests/soak/run builds and runs them
// all and prints their figures.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/soak/Soak.h"
#include "tests/support/Watchdog.h"

namespace {

const char kUsage[] =
    "Usage: soak_stream RUN TRANSPORT [options]\n"
    "\n"
    "RUN:\n"
    "  stream   read COUNT generated cases from one dravfeed in one pass\n"
    "  cycles   COUNT cycles of open, read, rewind, seek and close\n"
    "  kills    COUNT feeders killed by SIGKILL at random offsets\n"
    "TRANSPORT: pipe or socket\n"
    "\n"
    "Options:\n"
    "  --count N            cases, cycles or kills (default 10000)\n"
    "  --dravfeed PATH      the feeder (default: dravfeed beside soak_stream)\n"
    "  --samples N          figures sampled N times along the run (default 10)\n"
    "  --rss-tolerance KIB  resident memory growth still taken as flat (default 512)\n"
    "  --heap-tolerance B   malloc growth still taken as flat (default 16384)\n"
    "  --seed N             seed of the kill offsets (default 1)\n"
    "  --watchdog SECONDS   give up after this long (default 3600)\n"
    "\n"
    "Prints the figures as it goes; exits 0 when every case arrived intact and\n"
    "the host's descriptors and memory stayed flat, 1 with a FAIL line when not,\n"
    "2 on a usage error, 124 when the watchdog fired.\n";

std::string Beside(const std::string& name) {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return name;
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

bool ParseCount(const char* text, long long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && out >= 0;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "soak_stream: %s\n\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace drav::soak;
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("%s", kUsage);
    return 0;
  }
  if (argc < 3) return Usage("a run and a transport are needed");
  const std::string run = argv[1];
  const std::string transport = argv[2];
  SoakConfig config;
  config.count = 10000;
  config.dravfeed = Beside("dravfeed");
  if (transport == "pipe") config.transport = Transport::kPipe;
  else if (transport == "socket") config.transport = Transport::kSocket;
  else return Usage("unknown transport " + transport);
  long long watchdogSeconds = 3600;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage(option + " needs a value");
    const char* value = argv[++i];
    long long number = 0;
    if (option == "--dravfeed") {
      config.dravfeed = value;
      continue;
    }
    if (!ParseCount(value, number)) return Usage(option + ": not a count: " + value);
    if ((option == "--samples" || option == "--watchdog") && number == 0)
      return Usage(option + " must be at least 1");
    if (option == "--count") config.count = number;
    else if (option == "--samples") config.samples = static_cast<int>(number);
    else if (option == "--rss-tolerance") config.rssToleranceKiB = static_cast<long>(number);
    else if (option == "--heap-tolerance") config.heapToleranceBytes = number;
    else if (option == "--seed") config.seed = static_cast<unsigned>(number);
    else if (option == "--watchdog") watchdogSeconds = number;
    else return Usage("unknown option " + option);
  }
  drav::test::Watchdog watchdog(static_cast<int>(watchdogSeconds), "soak_stream " + run + " " + transport);
  try {
    if (run == "stream") RunStreamSoak(config);
    else if (run == "cycles") RunCycleSoak(config);
    else if (run == "kills") RunKillSoak(config);
    else return Usage("unknown run " + run);
  } catch (const SoakFailure& failure) {
    std::printf("FAIL: soak_stream %s %s: %s\n", run.c_str(), transport.c_str(), failure.what());
    return 1;
  } catch (const std::exception& error) {
    std::printf("FAIL: soak_stream %s %s: %s\n", run.c_str(), transport.c_str(), error.what());
    return 1;
  }
  std::printf("PASS: soak_stream %s %s\n", run.c_str(), transport.c_str());
  return 0;
}
