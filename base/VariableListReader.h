#pragma once
// Reads a whole variable list, "name FORMAT name FORMAT ...", by the rules
// the plug-in's parser follows: words separated by blanks, tabs, CRs and
// LFs, each read from its first 1023 bytes; the list ends with the text or
// at a word that begins with "."; a name longer than 64 bytes is cut (with a
// warning); names are told apart in upper case; the first refusal ends the
// list with the plug-in's message. A side that reads a list from a text of
// its own (the feeder library) uses this; the parser, which reads from the
// command as it goes, uses the same rules piece by piece.
#include <string>
#include <vector>

#include "base/FormatRules.h"

namespace drav {
namespace format {

struct ListedVariable {
  std::string name;        // as written (cut to 64 bytes)
  std::string formatWord;  // as written
  Format format;
};

struct ListMessage {
  unsigned int id = 0;
  std::string token;
};

struct ListVerdict {
  bool refused = false;
  ListMessage error;                  // when refused
  std::vector<ListMessage> warnings;  // in the order given, also before a refusal
  std::vector<ListedVariable> variables;  // those read before a refusal, too
};

ListVerdict ReadVariableList(const std::string& text);

}  // namespace format
}  // namespace drav
