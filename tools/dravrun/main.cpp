// dravrun: runs one GET DATA /TYPE = STREAM command through the plug-in and
// prints the cases. See UsageText() or README.md.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dravrun/Options.h"
#include "tools/dravrun/Runner.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const dravrun::ParsedOptions parsed = dravrun::ParseOptions(args);
  if (!parsed.ok) {
    std::fprintf(stderr, parsed.pointsToHelp ? "dravrun: %s\n" : "dravrun: %s\nTry 'dravrun --help'.\n",
                 parsed.error.c_str());
    return dravrun::kExitUsage;
  }
  if (parsed.options.help) {
    std::fputs(dravrun::UsageText(), stdout);
    return dravrun::kExitOk;
  }
  if (parsed.options.version) {
    std::fputs(dravrun::VersionText(), stdout);
    return dravrun::kExitOk;
  }
  // A closed standard output must end the run through a write error, so the
  // plug-in still gets to close its stream; a signal would kill it first.
  std::signal(SIGPIPE, SIG_IGN);
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  return dravrun::Run(parsed.options, dravrun::RunStreams{stdin, stdout, stderr});
}
