// dravfeed: serves a CSV input (read live), generated cases or a capture to a
// stream reader. See HelpText() or README.md.
#include <iostream>
#include <stdexcept>

#include "tools/dravfeed/Console.h"
#include "tools/dravfeed/FeedOptions.h"
#include "tools/dravfeed/FeedRunner.h"

int main(int argc, char** argv) {
  dravfeed::FeedOptions options;
  try {
    options = dravfeed::ParseFeedOptions(argc, argv);
  } catch (const std::invalid_argument& error) {
    dravfeed::Say(error.what());
    return dravfeed::kUsage;
  }
  if (options.help) {
    std::cout << dravfeed::HelpText();
    return dravfeed::kDone;
  }
  if (options.version) {
    std::cout << "dravfeed " << DRAV_VERSION << "\n";
    return dravfeed::kDone;
  }
  return dravfeed::RunFeeder(options);
}
