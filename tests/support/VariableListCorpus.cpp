#include "tests/support/VariableListCorpus.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/DravServerErrorText.h"

namespace drav {
namespace test {
namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

}  // namespace

std::vector<ListCase> VariableListCorpus(const std::string& sourceDir) {
  const std::string path = sourceDir + "/tests/data/variable-lists.tsv";
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::vector<ListCase> cases;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) throw std::runtime_error(path + ":" + std::to_string(number) + ": no verdict");
    cases.push_back(ListCase{number, Unescape(line.substr(0, tab)), line.substr(tab + 1)});
  }
  return cases;
}

std::string ListVerdictText::Text() const {
  std::string text = head;
  for (const std::string& field : fields) text += "\t" + field;
  return text;
}

std::string SlotsField(int slots) { return std::to_string(slots) + " slots"; }

std::string MessageField(const char* what, unsigned int id, const std::string& token) {
  return std::string(what) + " " + std::to_string(id) + " " + token;
}

std::string VariableField(const std::string& name, int type, int width, int decimals, const std::string& kind,
                          int firstSlot) {
  return name + " " + std::to_string(type) + " " + std::to_string(width) + "." + std::to_string(decimals) + " " +
         kind + " @" + std::to_string(firstSlot);
}

std::string CatalogMessage(unsigned int id, const char* token, bool warning, const std::string& limits) {
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

std::string MessageVerdict(const std::string& message, bool warning) {
  const unsigned int id = static_cast<unsigned int>(std::stoul(message.substr(1)));
  const std::string token = message.substr(message.rfind(' ') + 1);
  const char* limits = id == 2272 ? "64 64" : id == 2273 ? "64" : "";
  EXPECT_EQ(message, CatalogMessage(id, token.c_str(), warning, limits));
  return std::to_string(id) + " " + token;
}

}  // namespace test
}  // namespace drav
