#pragma once
// What dravrun reads from the command's tokens before it loads the plug-in:
// the subcommands it names, recognised by the parser's own rules in
// base/StreamCommand.h. The plug-in parses the command; dravrun only needs
// to know what it asked for: to tell a failed rewind from a stream that was
// never rewindable, and to refuse or question, before the plug-in opens the
// stream, a command (or an option such as --seek) that could never give
// what its user meant.
#include <string>
#include <vector>

#include "host/CommandTokenizer.h"

namespace dravrun {

struct CommandFacts {
  bool rewindable = false;    // /REWINDABLE: later passes start with a rewind
  bool seekable = false;      // /SEEKABLE: a pass may start at any case
  bool namesStream = false;   // /PIPE or /SOCKET
  bool hasVariables = false;  // a /VARIABLES subcommand...
  bool noVariables = false;   // ...that lists no variable
  // The words after a full stop that ends the variable list early; the
  // command ends there, so the plug-in never reads them.
  std::string ignoredText;
  // The first subcommand before the variable list that the plug-in does not
  // know (a misspelling such as SOCKETS = 5014); empty when there is none.
  // The plug-in refuses such a command and names the word itself.
  std::string unknownSubcommand;
};

CommandFacts FactsOf(const std::vector<CommandToken>& tokens);

}  // namespace dravrun
