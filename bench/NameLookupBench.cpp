// Parses variable lists of growing length and prints how long each took,
// per variable and against the shortest list measured in the same run: a
// duplicate check that walked every earlier name would make the ratio grow
// with the length of the list; a linear parse keeps it near 1.
//
//   build/bin/bench_name_lookup [VARIABLES]   (default 40000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "parser/StreamParser.h"

namespace {

std::string CommandWithVariables(long count) {
  std::string text = "GET DATA /TYPE = STREAM  /PIPE = '/tmp/cases' /VARIABLES =";
  for (long i = 0; i < count; ++i) text += " v" + std::to_string(i) + " F8.2";
  return text + "\n.";
}

// Seconds one parse of `count` variables takes (the best of `rounds`).
double SecondsToParse(long count, int rounds) {
  const std::string text = CommandWithVariables(count);
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    StreamParser parser(text.c_str(), nullptr);
    const int result = parser.ParseToExecutor();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result != 0 || parser.GetVarIndex() != count) {
      std::fprintf(stderr, "bench_name_lookup: the list of %ld variables was not parsed whole\n", count);
      std::exit(1);
    }
    if (took.count() < best) best = took.count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long largest = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 40000;
  if (largest < 1000) {
    std::fprintf(stderr, "usage: bench_name_lookup [VARIABLES >= 1000]\n");
    return 2;
  }
  const double baseline = SecondsToParse(1000, 5) / 1000;
  std::printf("%10s  %10s  %14s  %s\n", "variables", "seconds", "us per name", "vs 1,000 names");
  for (long count : {1000L, largest / 4, largest}) {
    const double seconds = count == 1000 ? baseline * 1000 : SecondsToParse(count, 3);
    const double perName = seconds / static_cast<double>(count);
    std::printf("%10ld  %10.3f  %14.3f  %.2fx\n", count, seconds, perName * 1e6, perName / baseline);
  }
  return 0;
}
