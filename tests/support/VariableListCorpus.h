#pragma once
// The corpus of variable lists, tests/data/variable-lists.tsv: each case a list and the plug-in's verdict on it. Each
// side's test writes its own verdict in the corpus's words and compares.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "host/DravServerErrorText.h"

namespace drav::test {

struct ListCase {
  int line;             // in the file, for the failure message
  std::string list;     // unescaped
  std::string verdict;  // the rest of the line
};

// The corpus of the source tree at `sourceDir` (DRAV_SOURCE_DIR).
inline std::vector<ListCase> VariableListCorpus(const std::string& sourceDir) {
  std::ifstream file(sourceDir + "/tests/data/variable-lists.tsv");
  if (!file) throw std::runtime_error("cannot read the corpus of variable lists");
  std::vector<ListCase> cases;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    if (++number, line.empty() || line[0] == '#') continue;
    ListCase c{number, "", line.substr(line.find('\t') + 1)};
    for (std::size_t i = 0; i < line.find('\t'); ++i) {  // \t, \n, \r and \\ stand for themselves
      const char e = line[i] == '\\' ? line[++i] : 0;
      c.list += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : line[i];
    }
    cases.push_back(c);
  }
  return cases;
}

// "\tNAME TYPE WIDTH.DECIMALS KIND @SLOT", one variable of a verdict.
inline std::string VariableField(const std::string& name, int type, int width, int decimals, const std::string& kind,
                                 int firstSlot) {
  return "\t" + name + " " + std::to_string(type) + " " + std::to_string(width) + "." + std::to_string(decimals) +
         " " + kind + " @" + std::to_string(firstSlot);
}

// The text of message `id` as the host's catalogs give it, each "%d"
// replaced by the next word of `limits`, then " " and the token (if any).
inline std::string CatalogMessage(unsigned int id, const char* token, bool warning = false,
                                  const std::string& limits = "") {
  std::string text = DravServerErrorText(warning ? "talvex.err" : "korvel.err", static_cast<long>(id)).GetText();
  std::istringstream words(limits);
  std::string::size_type from = 0;
  for (std::string limit; words >> limit; from += limit.size()) {
    from = text.find("%d", from);
    if (from == std::string::npos) return "catalog text of " + std::to_string(id) + " lacks a %d";
    text.replace(from, 2, limit);
  }
  return token != nullptr ? text + " " + token : text;
}

// "ID TOKEN" of a message "[ID] text TOKEN" that a side gave on a list, after
// checking that its text is the catalog's with the limits it reports.
inline std::string MessageVerdict(const std::string& message, bool warning) {
  const unsigned int id = static_cast<unsigned int>(std::stoul(message.substr(1)));
  const std::string token = message.substr(message.rfind(' ') + 1);
  EXPECT_EQ(message, CatalogMessage(id, token.c_str(), warning, id == 2272 ? "64 64" : id == 2273 ? "64" : ""));
  return std::to_string(id) + " " + token;
}

}  // namespace drav::test
