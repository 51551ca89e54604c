#include "tools/dravrun/CommandFacts.h"

#include "base/StreamCommand.h"
#include "host/DACAdapter.h"

namespace dravrun {
namespace {

using drav::command::Subcommand;

// The subcommand token `i` names: a subcommand is the first word (the
// head's slash is not among the tokens) or a word right after a slash, by
// the parser's own names. A quoted path that happens to read REWINDABLE is
// a string, not a word.
Subcommand SubcommandAt(const std::vector<CommandToken>& tokens, std::size_t i) {
  if (!(i == 0 || tokens[i - 1].kind == DACTokenSource::kSlash) || tokens[i].kind != DACTokenSource::kWord)
    return Subcommand::kNone;
  return drav::command::SubcommandNamed(tokens[i].text.c_str());
}

// A word in a subcommand's place with an equals sign after it that names
// none of the subcommands the parser knows. The equals sign tells such a
// word from a part of an unquoted path (/PIPE = /tmp/cases).
bool NamesUnknownSubcommand(const std::vector<CommandToken>& tokens, std::size_t i) {
  return (i == 0 || tokens[i - 1].kind == DACTokenSource::kSlash) && tokens[i].kind == DACTokenSource::kWord &&
         i + 1 < tokens.size() && tokens[i + 1].kind == DACTokenSource::kEquals &&
         SubcommandAt(tokens, i) == Subcommand::kNone;
}

// The parser ends a variable list at a word that starts with a full stop:
// that is the command's end to it, whatever follows.
bool IsFullStop(const CommandToken& token) {
  return token.kind == DACTokenSource::kWord && drav::command::EndsCommand(token.text.c_str());
}

std::string AfterFullStops(const std::string& word) {
  const std::size_t at = word.find_first_not_of('.');
  return at == std::string::npos ? std::string() : word.substr(at);
}

// The tokens from `from` on, as the user would read them again.
std::string TextOf(const std::vector<CommandToken>& tokens, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < tokens.size(); ++i) {
    if (!text.empty()) text += ' ';
    text += tokens[i].kind == DACTokenSource::kString ? "'" + tokens[i].text + "'" : tokens[i].text;
  }
  return text;
}

// Reads the variable list that starts after the token `i` (VARIABLES).
void ReadVariableList(const std::vector<CommandToken>& tokens, std::size_t i, CommandFacts& facts) {
  facts.hasVariables = true;
  std::size_t next = i + 1;
  if (next < tokens.size() && tokens[next].kind == DACTokenSource::kEquals) ++next;
  facts.noVariables = next >= tokens.size() || tokens[next].kind == DACTokenSource::kSlash ||
                      IsFullStop(tokens[next]);
  for (std::size_t j = next; j < tokens.size() && tokens[j].kind != DACTokenSource::kSlash; ++j) {
    if (IsFullStop(tokens[j])) {
      // What follows the full stops of that word, then the later tokens.
      const std::string attached = AfterFullStops(tokens[j].text);
      const std::string later = TextOf(tokens, j + 1);
      facts.ignoredText = attached.empty() || later.empty() ? attached + later : attached + " " + later;
      return;
    }
  }
}

}  // namespace

CommandFacts FactsOf(const std::vector<CommandToken>& tokens) {
  CommandFacts facts;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (facts.unknownSubcommand.empty() && !facts.hasVariables && NamesUnknownSubcommand(tokens, i))
      facts.unknownSubcommand = tokens[i].text;
    const Subcommand named = SubcommandAt(tokens, i);
    if (named == Subcommand::kRewindable) facts.rewindable = true;
    if (named == Subcommand::kSeekable) facts.seekable = true;
    if (named == Subcommand::kPipe || named == Subcommand::kSocket) facts.namesStream = true;
    if (named == Subcommand::kVariables) ReadVariableList(tokens, i, facts);
  }
  return facts;
}

}  // namespace dravrun
