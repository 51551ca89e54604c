#pragma once
// Helpers of the parser tests: commands as the entry builds them, and the
// message texts the catalogs give.
#include <memory>
#include <string>

#include "host/DravServerErrorText.h"
#include "host/SockAPIWrap.h"
#include "parser/StreamParser.h"

namespace parser_test {

// The command text the entry rebuilds: the fixed head, the subcommands and
// the closing line feed and full stop.
inline std::string Command(const std::string& subcommands) {
  return "GET DATA /TYPE = STREAM  /" + subcommands + "\n.";
}

// The catalog text of `id`, "[" id "] " and the message.
inline std::string CatalogText(unsigned int id, bool warning) {
  DravServerErrorText lookup(warning ? "talvex.err" : "korvel.err", static_cast<long>(id));
  return lookup.GetText();
}

// The full text a message gets: the catalog text, and " " + token when there
// is a token (for texts without integer conversions).
inline std::string MessageText(unsigned int id, const char* token, bool warning = false) {
  std::string text = CatalogText(id, warning);
  if (token != nullptr) text += std::string(" ") + token;
  return text;
}

inline std::string Prefix(unsigned int id) { return "[" + std::to_string(id) + "] "; }

// A parser that has run over `text`; `result` receives ParseToExecutor's value.
inline std::unique_ptr<StreamParser> ParseCommand(const std::string& text, int* result = nullptr,
                                                  DACAdapterBase* adapter = nullptr) {
  auto parser = std::make_unique<StreamParser>(text.c_str(), adapter);
  int r = parser->ParseToExecutor();
  if (result != nullptr) *result = r;
  return parser;
}

inline std::string PendingError(StreamParser& parser) {
  const char* text = parser.GetErrorMesToken();
  return text ? text : "";
}

// The canonical name of the local host, as the host's lookup gives it.
inline std::string CanonicalLocalHost() {
  std::string name;
  SockAPIWrap(static_cast<SockAPIWrap::SSL_OPTIONS>(0)).GetCanonicalHostByName("localhost", name);
  return name;
}

}  // namespace parser_test
