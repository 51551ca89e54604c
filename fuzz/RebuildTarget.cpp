// Fuzz target: the entry's rebuild of the command text from the host's
// tokens, then the parser over the rebuilt text.
//
// Input layout: tokens separated by the byte 0xFF (never part of UTF-8 text).
// The first byte of each token chooses its kind ('1' word, '2' slash,
// '3' equals, '4' quoted string; any other byte maps onto these four), the
// rest are the token's bytes, NUL bytes and invalid UTF-8 included. The
// tokens are handed out uncut, longer than any buffer if the input says so,
// by a token source that behaves like a careless host.
//
// Checked: the entry asks for no token past the end, asks a token's kind only
// after taking a token, the text has the fixed head and tail, the start of
// every token appears in it in order, and the parser's promises hold over it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "entry/CommandTextBuilder.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ParserChecks.h"
#include "host/DACAdapter.h"

namespace {

constexpr std::uint8_t kSeparator = 0xFF;
constexpr const char* kHead = "GET DATA /TYPE = STREAM  /";
constexpr const char* kTail = "\n.";
// However a long token is cut, at least this much of it survives.
constexpr std::size_t kSurvivingBytes = 512;

struct Token {
  std::string text;
  int kind;
};

std::vector<Token> DecodeTokens(const std::uint8_t* data, std::size_t size) {
  std::vector<Token> tokens;
  std::size_t start = 0;
  while (start < size) {
    std::size_t end = start;
    while (end < size && data[end] != kSeparator) ++end;
    if (end > start) {
      const int kind = (data[start] + 3) % 4 + 1;  // '1' .. '4' are 1 .. 4
      tokens.push_back({std::string(reinterpret_cast<const char*>(data) + start + 1, end - start - 1),
                        kind});
    }
    start = end + 1;
  }
  return tokens;
}

// Hands the tokens out as they are and counts how it is used. Past the end it
// hands out empty tokens, as the host's own source does.
class FuzzTokenSource : public DACTokenSource {
 public:
  explicit FuzzTokenSource(const std::vector<Token>& tokens) : tokens_(tokens) {}

  bool HasMoreTokens() override {
    askedAfterEnd_ = next_ >= tokens_.size();
    return !askedAfterEnd_;
  }
  int TokenKind() override {
    FUZZ_CHECK(taken_ > 0);
    return next_ > 0 && next_ <= tokens_.size() ? tokens_[next_ - 1].kind : kWord;
  }
  void NextToken(const char** text, unsigned int* length) override {
    // Only the first token may be taken without asking first.
    FUZZ_CHECK(taken_ == 0 || !askedAfterEnd_);
    ++taken_;
    static const char kEmpty[] = "";
    if (next_ < tokens_.size()) {
      *text = tokens_[next_].text.data();
      *length = static_cast<unsigned int>(tokens_[next_].text.size());
      ++next_;
    } else {
      *text = kEmpty;
      *length = 0;
    }
  }
  std::size_t Taken() const { return taken_; }

 private:
  const std::vector<Token>& tokens_;
  std::size_t next_ = 0;
  std::size_t taken_ = 0;
  bool askedAfterEnd_ = false;
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckText(const std::string& text, const std::vector<Token>& tokens) {
  FUZZ_CHECK(text.compare(0, std::strlen(kHead), kHead) == 0);
  FUZZ_CHECK(EndsWith(text, kTail));
  std::size_t at = std::strlen(kHead);
  for (const Token& token : tokens) {
    // What survives of a token: up to its first NUL, and at least the start
    // of an over-long one.
    std::string start = token.text.substr(0, token.text.find('\0'));
    start.resize(std::min(start.size(), kSurvivingBytes));
    const std::size_t found = text.find(start, at);
    FUZZ_CHECK(found != std::string::npos);
    at = found + start.size();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<Token> tokens = DecodeTokens(data, size);
  FuzzTokenSource source(tokens);
  const std::string text = drav::entry::RebuildCommandText(source);
  FUZZ_CHECK(source.Taken() == std::max<std::size_t>(tokens.size(), 1));
  CheckText(text, tokens);
  ParseAndCheck(text, nullptr);
  return 0;
}
