#include "tools/dravrun/CommandFacts.h"

#include <strings.h>

#include "host/DACAdapter.h"

namespace dravrun {
namespace {

// A subcommand is the first word (the head's slash is not among the tokens)
// or a word right after a slash; a quoted path that happens to read
// REWINDABLE is a string, not a word.
bool NamesSubcommand(const std::vector<CommandToken>& tokens, std::size_t i, const char* name) {
  return (i == 0 || tokens[i - 1].kind == DACTokenSource::kSlash) &&
         tokens[i].kind == DACTokenSource::kWord && strcasecmp(tokens[i].text.c_str(), name) == 0;
}

}  // namespace

CommandFacts FactsOf(const std::vector<CommandToken>& tokens) {
  CommandFacts facts;
  for (std::size_t i = 0; i < tokens.size(); ++i)
    if (NamesSubcommand(tokens, i, "REWINDABLE")) facts.rewindable = true;
  return facts;
}

}  // namespace dravrun
