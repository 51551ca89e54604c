#pragma once
// Helpers of the parser tests: commands as the entry builds them, the
// message texts the catalogs give, and a one-line view of the variables.
#include <memory>
#include <sstream>
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

inline std::string Prefix(unsigned int id) { return "[" + std::to_string(id) + "] "; }

// The catalog text of `id`, "[" id "] " and the message.
inline std::string CatalogText(unsigned int id, bool warning) {
  return DravServerErrorText(warning ? "talvex.err" : "korvel.err", static_cast<long>(id)).GetText();
}

// The full text a message gets: the catalog text with each "%d" replaced by
// the next word of `limits`, then " " + token when there is a token.
inline std::string MessageText(unsigned int id, const char* token, bool warning = false,
                               const std::string& limits = "") {
  std::string text = CatalogText(id, warning);
  std::istringstream words(limits);
  std::string::size_type from = 0;
  for (std::string limit; words >> limit;) {
    std::string::size_type at = text.find("%d", from);
    if (at == std::string::npos) return "catalog text of " + std::to_string(id) + " lacks a %d";
    text.replace(at, 2, limit);
    from = at + limit.size();
  }
  if (token != nullptr) text += std::string(" ") + token;
  return text;
}

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

// "name:type/width.decimals" for every variable, blank-separated.
inline std::string Variables(StreamParser& parser) {
  std::string out;
  for (int i = 0; i < parser.GetVarIndex(); ++i) {
    DRAV_Variable* variable = parser.GetVariable(i);
    DRAV_Variable::FormatType type;
    int width, decimals;
    variable->GetFormat(type, width, decimals);
    out += (i ? " " : "") + std::string(variable->GetName()) + ":" + std::to_string(type) + "/" +
           std::to_string(width) + "." + std::to_string(decimals);
  }
  return out;
}

// The canonical name of the local host, as the host's lookup gives it.
inline std::string CanonicalLocalHost() {
  std::string name;
  SockAPIWrap(static_cast<SockAPIWrap::SSL_OPTIONS>(0)).GetCanonicalHostByName("localhost", name);
  return name;
}

}  // namespace parser_test
