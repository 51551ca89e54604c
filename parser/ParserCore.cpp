// StreamParser's core: construction, the command head, the subcommands and
// the drive of the whole parse.
#include <cstring>

#include "base/StreamCommand.h"
#include "host/MultiByte.h"
#include "parser/MessageIds.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using drav::command::EndsCommand;
using drav::command::Subcommand;
using drav::command::SubcommandNamed;
using parser_text::CopyCut;

namespace {

bool Is(const char* text, const char* keyword) { return DRAVMBstricmp_A(text, keyword) == 0; }

// A fresh, owned copy of `text` (an empty text for null).
char* CopyText(const char* text) {
  if (text == nullptr) text = "";
  char* copy = new char[std::strlen(text) + 1];
  DRAVMBstrcpy_A(copy, text);
  return copy;
}

}  // namespace

StreamParser::StreamParser(const char* text, DACAdapterBase* adapterIn)
    : scanPos(nullptr),
      seekable(false),
      useSocket(false),
      rewindable(false),
      hostName("localhost"),
      lineNumber(0),
      errorMesID(message_id::kInitial),
      errorMesToken(nullptr),
      variablesSeen(false),
      varIndex(0),
      variables(nullptr),
      upperNameIndex(nullptr),
      syntaxText(CopyText(text)),
      adapter(adapterIn) {
  scanPos = syntaxText;
}

// A parser without a command reads an empty text, so that no operation
// called on it by mistake can touch a null position.
StreamParser::StreamParser()
    : scanPos(nullptr),
      seekable(false),
      useSocket(false),
      rewindable(false),
      lineNumber(0),
      errorMesID(0),
      errorMesToken(nullptr),
      variablesSeen(false),
      varIndex(0),
      variables(nullptr),
      upperNameIndex(nullptr),
      syntaxText(CopyText("")),
      adapter(nullptr) {
  scanPos = syntaxText;
}

StreamParser::~StreamParser() {
  delete[] syntaxText;
  delete[] errorMesToken;
  // The index keys point into the variables' own names: the index goes
  // first, then the variables and their array.
  delete upperNameIndex;
  if (variables != nullptr) {
    for (DRAV_Variable* variable : *variables) delete variable;
    delete variables;
  }
}

int StreamParser::ParseToExecutor() {
  if (!GetSyntax()) return 1;
  if (!VerifySyntax()) return 1;
  int result;
  do {
    result = ParseVariable(0);
  } while (result == 0);
  return result == 2 ? 1 : 0;
}

bool StreamParser::GetSyntax() {
  char wordBuffer[kBufferSize];
  char valueBuffer[kBufferSize];
  ParseWord(wordBuffer, sizeof wordBuffer);
  ParseWord(valueBuffer, sizeof valueBuffer);
  if (!Is(wordBuffer, "GET") || !Is(valueBuffer, "DATA")) {
    PostErrorMsg(message_id::kNotGetData, nullptr, false);
    return false;
  }
  int result = ParseSubCommand(wordBuffer, valueBuffer);
  if (result == 2) return false;
  // A text that ends right after GET DATA has no TYPE subcommand either; it
  // is refused with the same message, so that a refusal always explains
  // itself.
  if (result == 1 || !Is(wordBuffer, "TYPE") || !Is(valueBuffer, "STREAM")) {
    PostErrorMsg(message_id::kNotTypeStream, nullptr, false);
    return false;
  }
  while (true) {
    result = ParseSubCommand(wordBuffer, valueBuffer);
    if (result == 2) return false;
    if (result == 1) return true;
    if (!SetSyntaxParam(wordBuffer, valueBuffer)) return false;
  }
}

int StreamParser::ParseSubCommand(char* name, char* value) {
  SkipWhiteSpace();
  if (EndsCommand(scanPos) || *scanPos == '\0') return 1;
  if (*scanPos != '/') {
    PostErrorMsg(message_id::kExpected, "/", false);
    return 2;
  }
  scanPos = DRAVMBstrinc_A(scanPos);
  SkipWhiteSpace();

  std::size_t n = DRAVMBstrcspn_A(scanPos, "/");
  if (n == 0) {
    PostErrorMsg(message_id::kEmptySubcommand, "/", false);
    return 2;
  }
  // Only the first 1022 bytes of a subcommand are examined (cut between
  // characters); the next call resumes behind them.
  n = parser_text::CutAtCharBoundary(scanPos, n, kMaxSubcommandBytes);
  char subcommandText[kBufferSize];
  CopyCut(subcommandText, sizeof subcommandText, scanPos, n);

  std::size_t k = DRAVMBstrcspn_A(subcommandText, "=");
  bool hasEquals = subcommandText[k] == '=';
  CopyCut(name, kBufferSize, subcommandText, k);
  StripSpaces(name);

  const Subcommand named = SubcommandNamed(name);
  if (named == Subcommand::kVariables) {
    // Without "=" the list would be read from wherever the scan happens to
    // stand; such a command is refused like any other subcommand without its
    // "=".
    if (!hasEquals) {
      PostErrorMsg(message_id::kExpected, "=", false);
      return 2;
    }
    scanPos = DRAVMBstrinc_A(scanPos + k);
    variablesSeen = true;
    return 1;
  }

  if (hasEquals) {
    if (named == Subcommand::kPipe || named == Subcommand::kRewindable) {
      if (!GetFilePath(value, true)) {
        PostErrorMsg(message_id::kBadSubcommand, name, false);
        return 2;
      }
      return 0;
    }
    char* p = subcommandText + k + 1;
    GetNextWord(p, value);
    scanPos += n;
    return 0;
  }

  if (named == Subcommand::kSeekable || named == Subcommand::kRewindable) {
    scanPos += n;
    return 0;
  }
  PostErrorMsg(message_id::kExpected, "=", false);
  return 2;
}

bool StreamParser::SetSyntaxParam(char* name, char* value) {
  if (*name == '\0') {
    PostErrorMsg(message_id::kNoSubcommandName, nullptr, false);
    return false;
  }
  if (*value == '\0' && !Is(name, "DELIMITERS") && !Is(name, "QUALIFIER")) {
    PostErrorMsg(message_id::kBadSubcommand, name, false);
    return false;
  }
  const Subcommand named = SubcommandNamed(name);
  if (named == Subcommand::kPipe || named == Subcommand::kSocket) {
    bool socket = named == Subcommand::kSocket;
    if (!streamName.empty()) {
      PostErrorMsg(message_id::kRepeatedStream, socket ? "/SOCKET" : "/PIPE", false);
      return false;
    }
    streamName = value;
    if (socket) useSocket = true;
    return true;
  }
  if (named == Subcommand::kHost) {
    hostName = value;
    return true;
  }
  if (named == Subcommand::kRewindable) {
    if (!rewindName.empty()) {
      PostErrorMsg(message_id::kRepeatedStream, "/REWINDABLE", false);
      return false;
    }
    rewindable = true;
    rewindName = value;
    return true;
  }
  if (named == Subcommand::kSeekable && rewindable) {
    seekable = true;
    return true;
  }
  PostErrorMsg(message_id::kBadSubcommand, name, false);
  return false;
}

bool StreamParser::VerifySyntax() {
  if (variablesSeen) return true;
  PostErrorMsg(message_id::kNoVariables, "/VARIABLES", false);
  return false;
}

bool StreamParser::GetSeekFlag() { return seekable; }

bool StreamParser::GetSockUse() { return useSocket; }

bool StreamParser::GetRewSupport() { return rewindable; }
