#include "entry/CommandTextBuilder.h"

#include <cstring>

#include "host/DACAdapter.h"
#include "host/MultiByte.h"

namespace drav {
namespace entry {

namespace {

constexpr char kHead[] = "GET DATA /TYPE = STREAM  /";
constexpr char kTail[] = "\n.";

// Copies at most kTokenBufferSize - 1 bytes of the token into `out`,
// stepping back over UTF-8 continuation bytes so that a cut never splits
// a character, and terminates it.
void CopyToken(const char* text, unsigned int length, char* out) {
  std::size_t n = text == nullptr ? 0 : length;
  if (n > kTokenBufferSize - 1) {
    n = kTokenBufferSize - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n > 0) std::memcpy(out, text, n);
  out[n] = '\0';
}

// Reassembly state carried from one token to the next.
struct Reassembly {
  bool afterSlash = true;  // the head already ends with a slash
  bool beforeVariables = true;
  bool pipeValuePending = false;
  int streamCount = 0;
};

void AppendStreamValue(DACTokenSource& tokens, const char* token, std::string& text) {
  if (tokens.TokenKind() == DACTokenSource::kString) {
    const char quote = std::strchr(token, '"') != nullptr ? '\'' : '"';
    text += quote;
    text += token;
    text += quote;
  } else {
    text += token;
  }
}

}  // namespace

std::string RebuildCommandText(DACTokenSource& tokens) {
  std::string text = kHead;
  char tokenText[kTokenBufferSize] = "";
  char upperToken[kTokenBufferSize] = "";
  Reassembly state;
  do {
    const char* bytes = nullptr;
    unsigned int length = 0;
    tokens.NextToken(&bytes, &length);
    const bool afterEquals = DRAVMBstrcmp_A(tokenText, "=") == 0;
    CopyToken(bytes, length, tokenText);
    DRAVMBstrcpy_A(upperToken, tokenText);
    DRAVMBstrupr_A(upperToken);

    if (!state.afterSlash && state.streamCount == 0 && DRAVMBstrnbcmp_A(tokenText, "-", 1) != 0)
      text += ' ';
    if (DRAVMBstrcmp_A(upperToken, "VARIABLES") == 0 && !afterEquals) state.beforeVariables = false;
    if (DRAVMBstrcmp_A(upperToken, "PIPE") == 0) state.pipeValuePending = true;
    if (state.streamCount != 0)
      ++state.streamCount;
    else if (DRAVMBstrcmp_A(upperToken, "STREAM") == 0 && state.beforeVariables)
      state.streamCount = 1;

    if (state.streamCount == 3) {
      AppendStreamValue(tokens, tokenText, text);
      state.streamCount = 0;
    } else if (state.pipeValuePending && afterEquals) {
      text += '\'';
      text += tokenText;
      text += '\'';
      state.pipeValuePending = false;
    } else {
      text += tokenText;
    }
    state.afterSlash = DRAVMBstrcmp_A(tokenText, "/") == 0;
  } while (tokens.HasMoreTokens());
  text += kTail;
  return text;
}

}  // namespace entry
}  // namespace drav
