#include "host/CommandTokenizer.h"

#include <cctype>
#include <cstddef>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A character that ends an unquoted token.
bool EndsWord(char c) { return IsBlank(c) || c == '/' || c == '=' || c == '\'' || c == '"'; }

// Reads the head "GET DATA /TYPE = STREAM" word by word.
class HeadReader {
 public:
  HeadReader(const std::string& text, std::size_t end) : text_(text), end_(end) {}

  void SkipBlanks() {
    while (pos_ < end_ && IsBlank(text_[pos_])) ++pos_;
  }
  // Matches `keyword` in any case as a whole word.
  bool Keyword(const char* keyword) {
    SkipBlanks();
    std::size_t p = pos_;
    for (const char* k = keyword; *k != '\0'; ++k, ++p) {
      if (p >= end_ || std::toupper(static_cast<unsigned char>(text_[p])) != *k) return false;
    }
    if (p < end_ && !EndsWord(text_[p])) return false;
    pos_ = p;
    return true;
  }
  bool Symbol(char symbol) {
    SkipBlanks();
    if (pos_ >= end_ || text_[pos_] != symbol) return false;
    ++pos_;
    return true;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ >= end_;
  }
  std::size_t Position() const { return pos_; }

 private:
  const std::string& text_;
  std::size_t end_;
  std::size_t pos_ = 0;
};

// The end of the command: the last "." when only white space follows it,
// else the end of the text (a missing full stop is forgiven).
std::size_t CommandEnd(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  if (end > 0 && text[end - 1] == '.') return end - 1;
  return text.size();
}

// Reads a quoted string starting at `pos` (on the quote). Returns false when
// the closing quote is missing.
bool ReadQuoted(const std::string& text, std::size_t end, std::size_t& pos, std::string& out) {
  const char quote = text[pos++];
  while (pos < end) {
    if (text[pos] != quote) {
      out += text[pos++];
    } else if (pos + 1 < end && text[pos + 1] == quote) {
      out += quote;  // a doubled quote stands for one
      pos += 2;
    } else {
      ++pos;
      return true;
    }
  }
  return false;
}

}  // namespace

TokenizeResult TokenizeStreamCommand(const std::string& commandText) {
  TokenizeResult result;
  const std::size_t end = CommandEnd(commandText);
  HeadReader head(commandText, end);
  if (!(head.Keyword("GET") && head.Keyword("DATA") && head.Symbol('/') && head.Keyword("TYPE") &&
        head.Symbol('=') && head.Keyword("STREAM"))) {
    result.error =
        "This is not a stream command: it must begin with GET DATA /TYPE = STREAM followed by "
        "its subcommands, each after a slash.";
    return result;
  }
  // A command with no subcommands at all still reaches the plug-in, which
  // says what is missing in its own words.
  if (head.AtEnd()) {
    result.ok = true;
    return result;
  }
  if (!head.Symbol('/')) {
    result.error =
        "A slash must follow GET DATA /TYPE = STREAM, before the first subcommand such as "
        "/PIPE or /SOCKET.";
    return result;
  }
  std::size_t pos = head.Position();
  while (pos < end) {
    const char c = commandText[pos];
    if (IsBlank(c)) {
      ++pos;
    } else if (c == '/' || c == '=') {
      result.tokens.push_back({std::string(1, c), c == '/' ? DACTokenSource::kSlash
                                                           : DACTokenSource::kEquals});
      ++pos;
    } else if (c == '\'' || c == '"') {
      const std::size_t start = pos;
      CommandToken token{std::string(), DACTokenSource::kString};
      if (!ReadQuoted(commandText, end, pos, token.text)) {
        result.tokens.clear();
        result.error = std::string("The quoted text starting at character ") +
                       std::to_string(start + 1) + " has no closing " +
                       (c == '"' ? "double" : "single") + " quote.";
        return result;
      }
      result.tokens.push_back(std::move(token));
    } else {
      const std::size_t start = pos;
      while (pos < end && !EndsWord(commandText[pos])) ++pos;
      result.tokens.push_back(
          {commandText.substr(start, pos - start), DACTokenSource::kWord});
    }
  }
  result.ok = true;
  return result;
}
