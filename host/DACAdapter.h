#pragma once
// The command adapter and token source the host hands to a plug-in.
#include <string>

// Hands out the tokens of one command, after its head.
class DACTokenSource {
 public:
  // Token kinds.
  enum Kind : int { kWord = 1, kSlash = 2, kEquals = 3, kString = 4 };

  virtual ~DACTokenSource() = default;
  // Virtual operations, in this slot order.
  // True while another token follows the one last handed out.
  virtual bool HasMoreTokens() = 0;
  // Kind of the token last handed out; kString (4) is a quoted literal,
  // handed out without its quotes.
  virtual int TokenKind() = 0;
  // Advances to the next token: `*text` points at its bytes (not
  // NUL-terminated, valid until the next call) and `*length` is their count.
  virtual void NextToken(const char** text, unsigned int* length) = 0;
};

// The host's side of one command.
class DACAdapterBase {
 public:
  using ErrorCallback = void (*)(const char* text, int severity);

  virtual ~DACAdapterBase() = default;
  // Virtual operations, in this slot order.
  virtual DACTokenSource* GetTokenSource() = 0;
  virtual ErrorCallback GetErrorCallback() = 0;
  // The file name to use for `name`; `unquoted` is true when the user wrote
  // the name without quotes.
  virtual std::string ResolveFileSpec(const std::string& name, bool unquoted) = 0;
};
