#pragma once
// dravrun's job from a parsed command line to an exit status: load the
// plug-in, hand it the command, then read and print the cases.
#include <cstdio>

#include "tools/dravrun/Options.h"

namespace dravrun {

enum ExitStatus : int {
  kExitOk = 0,            // the command was accepted and every pass read
  kExitRefused = 1,       // the plug-in (or the tokenizer) refused the command
  kExitUsage = 2,         // bad options, unreadable command file, no plug-in
  kExitStreamFailed = 3,  // a pass failed after the stream was opened
};

struct RunStreams {
  std::FILE* in;   // the command when neither COMMAND nor -f gives one
  std::FILE* out;  // cases, dictionary, summary
  std::FILE* err;  // messages, "N cases", progress
};

// Runs one command. The plug-in's messages are written to `streams.err`.
int Run(const Options& options, const RunStreams& streams);

}  // namespace dravrun
