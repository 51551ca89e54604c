#pragma once
// What dravrun reads from the command's tokens itself: the subcommands it
// names. The plug-in parses the command; dravrun only needs to know what it
// asked for, to tell a failed rewind from a stream that was never
// rewindable.
#include <vector>

#include "host/CommandTokenizer.h"

namespace dravrun {

struct CommandFacts {
  bool rewindable = false;  // /REWINDABLE: later passes start with a rewind
};

CommandFacts FactsOf(const std::vector<CommandToken>& tokens);

}  // namespace dravrun
