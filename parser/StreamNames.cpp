// StreamParser: path values, file names and the names the stream is opened
// with (stream, rewind and host names).
#include <cstring>
#include <string>

#include "host/MultiByte.h"
#include "host/SockAPIWrap.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using parser_text::CopyCut;
using parser_text::kBlanks;

namespace {

constexpr const char* kInetPrefix = "inet:";
constexpr const char* kRewindSupported = "rewindsupported";
constexpr const char* kLocalHost = "localhost";

// Length of a double-quoted value starting at `p` (just past the opening
// quote). A run of double quotes that closes the value keeps all its quotes
// but the last in the value.
std::size_t DoubleQuotedLength(const char* p) {
  std::size_t length = DRAVMBstrcspn_A(p, "\"");
  while (p[length] == '"' && p[length + 1] == '"') ++length;
  return length;
}

}  // namespace

bool StreamParser::GetFilePath(char* out, bool useAdapter) {
  *out = '\0';
  scanPos += DRAVMBstrcspn_A(scanPos, "=");
  SkipWhiteSpace();
  if (*scanPos != '=') return false;
  scanPos = DRAVMBstrinc_A(scanPos);
  SkipWhiteSpace();

  bool quoted = *scanPos == '\'' || *scanPos == '"';
  const char quote = *scanPos;
  if (quoted) scanPos = DRAVMBstrinc_A(scanPos);
  std::size_t length = quote == '\''  ? DRAVMBstrcspn_A(scanPos, "'")
                       : quote == '"' ? DoubleQuotedLength(scanPos)
                                      : DRAVMBstrcspn_A(scanPos, kBlanks);
  if (length > 0) {
    // With an adapter the host decides what a path means (for example
    // expanding "~/" in an unquoted one), as for every file name it reads.
    if (useAdapter && adapter != nullptr) {
      std::string resolved = adapter->ResolveFileSpec(std::string(scanPos, length), !quoted);
      CopyCut(out, kBufferSize, resolved.c_str(), resolved.size());
    } else {
      // A path of more than 1023 bytes is cut there; it then names no file
      // the feeder created, and opening it fails with its own message.
      CopyCut(out, kBufferSize, scanPos, length);
    }
    scanPos += length;
  }
  scanPos = DRAVMBstrinc_A(scanPos);
  SkipWhiteSpace();
  return *scanPos == '/';
}

const char* StreamParser::GetName() {
  if (useSocket && streamName.find(kInetPrefix) == std::string::npos) {
    std::string host = GetHostName();
    streamName = kInetPrefix + host + ":" + streamName;
  }
  return streamName.c_str();
}

const char* StreamParser::GetHostName() {
  if (hostName.empty() || hostName == kLocalHost) {
    SockAPIWrap lookup(static_cast<SockAPIWrap::SSL_OPTIONS>(0));
    lookup.GetCanonicalHostByName(kLocalHost, hostName);
  }
  return hostName.c_str();
}

const char* StreamParser::GetRewindName() {
  if (useSocket && rewindable) rewindName = kRewindSupported;
  return rewindName.c_str();
}

void StreamParser::ParseFileName(char* out, unsigned int size) {
  SkipWhiteSpace();
  if (DRAVMBstrnicmp_A(scanPos, "file=", 5) == 0) {
    for (int i = 0; i < 5; ++i) scanPos = DRAVMBstrinc_A(scanPos);
  }
  bool quoted = *scanPos == '\'';
  if (quoted) scanPos = DRAVMBstrinc_A(scanPos);

  std::size_t length = DRAVMBstrcspn_A(scanPos, "\r\n");
  if (length > 0 && scanPos[length - 1] == '\'') --length;

  // The copy is bounded by `size`, the room the caller gives.
  if (length == 0) {
    CopyCut(out, size, "", 0);
  } else if (adapter != nullptr) {
    std::string resolved = adapter->ResolveFileSpec(std::string(scanPos, length), !quoted);
    CopyCut(out, size, resolved.c_str(), resolved.size());
  } else {
    CopyCut(out, size, scanPos, length);
  }
  scanPos += length;
  if (*scanPos == '\'') scanPos = DRAVMBstrinc_A(scanPos);
  scanPos = DRAVMBstrinc_A(scanPos);
}

void StreamParser::StripQuotes(char*& text) {
  if (text == nullptr || (*text != '\'' && *text != '"')) return;
  const char quote[2] = {*text, '\0'};
  ++text;
  std::size_t length = DRAVMBstrcspn_A(text, quote);
  text[length] = '\0';
}

void StreamParser::ConvertSlashTab(char*& text) {
  if (text == nullptr) return;
  if (DRAVMBstrnicmp_A(text, "\\t", 2) == 0) {
    if (DRAVMBstrnbcmp_A(text + 2, "\\\\", 2) == 0) {
      text += 2;
    } else {
      text += 1;
    }
    *text = '\t';
  } else if (DRAVMBstrnbcmp_A(text, "\\\\", 2) == 0) {
    text += 1;
  }
}
