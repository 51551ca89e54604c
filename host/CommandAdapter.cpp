#include "host/CommandAdapter.h"

#include <cstdlib>

#include "base/Utf8.h"

namespace {

// A plug-in reads each token into a buffer of 1024 bytes; a longer token is
// cut at the last whole character that fits.
constexpr std::size_t kMaxTokenBytes = 1023;

std::size_t CutLength(const std::string& text) {
  if (text.size() <= kMaxTokenBytes) return text.size();
  std::size_t cut = 0;
  while (cut < kMaxTokenBytes) {
    std::size_t length = drav::utf8::CharLength(text.c_str() + cut);
    if (length == 0 || cut + length > kMaxTokenBytes) break;
    cut += length;
  }
  return cut;
}

}  // namespace

CommandTokenSource::CommandTokenSource(std::vector<CommandToken> tokens)
    : tokens_(std::move(tokens)) {
  // A plug-in takes the first token without asking HasMoreTokens.
  if (tokens_.empty()) tokens_.push_back({std::string(), kWord});
}

bool CommandTokenSource::HasMoreTokens() { return next_ < tokens_.size(); }

int CommandTokenSource::TokenKind() { return lastKind_; }

void CommandTokenSource::NextToken(const char** text, unsigned int* length) {
  static const char kEmpty[] = "";
  const char* bytes = kEmpty;
  std::size_t count = 0;
  lastKind_ = kWord;
  // Past the end, every further call hands out another empty token.
  if (next_ < tokens_.size()) {
    const CommandToken& token = tokens_[next_++];
    bytes = token.text.c_str();
    count = CutLength(token.text);
    lastKind_ = token.kind;
  }
  if (text != nullptr) *text = bytes;
  if (length != nullptr) *length = static_cast<unsigned int>(count);
}

CommandAdapter::CommandAdapter(std::vector<CommandToken> tokens, ErrorCallback callback)
    : tokens_(std::move(tokens)), callback_(callback) {}

std::string CommandAdapter::ResolveFileSpec(const std::string& name, bool unquoted) {
  if (!unquoted || name.compare(0, 2, "~/") != 0) return name;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return name;
  return std::string(home) + name.substr(1);
}
