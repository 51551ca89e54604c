// bench_iterator: the plug-in's iterator in this process, over a stream a
// real feeder serves (bench/endtoend.py starts the same `dravfeed --generate`
// process it starts for dravrun). Opens the stream as a host does, calls Next
// until the end, and prints {"rows": N, "seconds": S} on one line, S being
// the time of the Next calls alone: the iterator's own rate, against which
// dravrun's whole-process rate is set.
//
//   bench_iterator 'GET DATA /TYPE = STREAM /SOCKET = inet:127.0.0.1:PORT /VARIABLES = ... .'
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/PluginStream.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bench_iterator COMMAND\n", stderr);
    return 2;
  }
  std::string error;
  std::unique_ptr<drav::bench::PluginStream> stream = drav::bench::PluginStream::Open(argv[1], error);
  if (!stream) {
    std::fprintf(stderr, "bench_iterator: %s\n", error.c_str());
    return 1;
  }
  DRAV_InputCaseIterator& iterator = stream->Iterator();
  long long rows = 0;
  const auto start = std::chrono::steady_clock::now();
  while (iterator.Next()) ++rows;
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  stream.reset();  // ends the pass: "STOP" to the feeder
  std::printf("{\"rows\": %lld, \"seconds\": %.6f}\n", rows, seconds.count());
  return 0;
}
