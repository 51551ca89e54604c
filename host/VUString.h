#pragma once
// The host's string class for socket addresses.
#include <string>

class VUString {
 public:
  explicit VUString(const char* text) : text_(text ? text : "") {}
  const char* c_str() const { return text_.c_str(); }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};
