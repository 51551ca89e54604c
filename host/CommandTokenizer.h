#pragma once
// The host's tokenizer for GET DATA /TYPE = STREAM commands.
//
// The head "GET DATA /TYPE = STREAM /" (keywords in any case, blanks
// optional) is recognised and dropped; the tokens after its slash, up to the
// command's terminating full stop, are returned. A token is a quoted string
// (single or double quotes; a doubled quote inside stands for one; handed out
// without its quotes), a "/" or "=" alone, or any other run of characters up
// to white space, "/", "=" or a quote. The terminating full stop is the last
// "." of the text when only white space follows it; without one the command
// runs to the end of the text. A head with no subcommands after it gives an
// empty token list, so the plug-in can say what is missing.
#include <string>
#include <vector>

#include "host/DACAdapter.h"

struct CommandToken {
  std::string text;
  int kind;  // a DACTokenSource::Kind
};

struct TokenizeResult {
  bool ok = false;
  std::string error;  // why the text is not a stream command, when !ok
  std::vector<CommandToken> tokens;
};

TokenizeResult TokenizeStreamCommand(const std::string& commandText);
