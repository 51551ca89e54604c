#pragma once
// The host's reference command adapter: a token source over a tokenized
// command, the host program's error callback, and file-name resolution.
#include <string>
#include <vector>

#include "host/CommandTokenizer.h"
#include "host/DACAdapter.h"

// Hands out a fixed list of tokens. An empty list hands out one empty token
// rather than failing, since a plug-in takes the first token without asking.
class CommandTokenSource : public DACTokenSource {
 public:
  explicit CommandTokenSource(std::vector<CommandToken> tokens);
  bool HasMoreTokens() override;
  int TokenKind() override;
  void NextToken(const char** text, unsigned int* length) override;

 private:
  std::vector<CommandToken> tokens_;
  std::size_t next_ = 0;
  int lastKind_ = kWord;
};

class CommandAdapter : public DACAdapterBase {
 public:
  // `callback` receives every message the plug-in reports; it may be null.
  CommandAdapter(std::vector<CommandToken> tokens, ErrorCallback callback);
  DACTokenSource* GetTokenSource() override { return &tokens_; }
  ErrorCallback GetErrorCallback() override { return callback_; }
  // Unquoted names have a leading "~/" expanded to $HOME; otherwise the
  // name is used as written.
  std::string ResolveFileSpec(const std::string& name, bool unquoted) override;

 private:
  CommandTokenSource tokens_;
  ErrorCallback callback_;
};
