#pragma once
// Message records shared by the host and the plug-in.
#include <cstdint>
#include <string>
#include <vector>

// One message text.
class ErrorString {
 public:
  ErrorString() = default;
  explicit ErrorString(const char* text) : text_(text ? text : "") {}
  const char* c_str() const { return text_.c_str(); }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

// One message record: text, severity and a number (unused by the plug-in).
class ErrorText {
 public:
  enum SeverityCode : std::uint8_t { kWarning = 0, kError = 1 };

  ErrorText(const ErrorString& text, int severity, long number)
      : text_(text), severity_(static_cast<SeverityCode>(severity)), number_(number) {}
  ErrorText(const ErrorText&) = default;
  ErrorText(ErrorText&&) = default;
  ErrorText& operator=(const ErrorText&) = default;
  ErrorText& operator=(ErrorText&&) = default;

  const ErrorString& Text() const { return text_; }
  SeverityCode Severity() const { return severity_; }
  long Number() const { return number_; }

 private:
  ErrorString text_;
  SeverityCode severity_;
  long number_;
};

// An ordered list of message records.
class ErrorTextList : public std::vector<ErrorText> {};
