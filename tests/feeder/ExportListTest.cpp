// The libraries export only their API and the toolchain's template instances: libdravfeed.so what its
// headers mark DRAV_FEED_API with its own members (not a nested class's); the plug-in, five names.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

#include "tests/support/TempDir.h"

namespace {

std::set<std::string> NamesMarkedForExport() {
  std::set<std::string> names;
  const std::regex marked(R"(class DRAV_FEED_API (\w+)|DRAV_FEED_API [^(;]* (\w+)\()");
  for (const auto& entry : std::filesystem::directory_iterator(DRAV_SOURCE_DIR "/feeder/include/dravfeed")) {
    const std::string text = drav::test::TempDir::Read(entry.path());
    for (std::sregex_iterator it(text.begin(), text.end(), marked), end; it != end; ++it)
      names.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
  }
  return names;
}

// "void drav::feed::X::F<true>(long) const" -> "drav::feed::X::F<true>"
std::string QualifiedName(const std::string& name) {
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (depth == 0 && name[i] == '(' && i > start) return name.substr(start, i - start);
    depth += name[i] == '<' || name[i] == '(' ? 1 : name[i] == '>' || name[i] == ')' ? -1 : 0;
    if (depth == 0 && name[i] == ' ') start = i + 1;
  }
  return name.substr(start);
}

// Whether "drav::feed::PipeServer::Serve" and the like is an API name or one of its own members.
bool IsApi(std::string name, const std::set<std::string>& api) {
  const std::string ours = "drav::feed::";
  if (name.rfind(ours, 0) != 0) return false;
  name.erase(0, ours.size());
  if (name.rfind("jetstream::", 0) == 0) name.erase(0, 11);
  const std::size_t colon = name.find("::");
  return api.count(name.substr(0, colon)) == 1 &&
         (colon == std::string::npos || name.find("::", colon + 2) == std::string::npos);
}

struct Symbol {
  char type;               // nm's letter: 'u' is a unique symbol
  std::string name, line;  // the qualified name of the thing itself; nm's line
  bool toolchains;         // an instance of a standard template, a coverage build's runtime
};

std::vector<Symbol> Exported(const std::string& library) {
  std::vector<Symbol> symbols;
  FILE* pipe = popen(("nm -D --defined-only --demangle '" + library + "' 2>/dev/null").c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  for (char line[8192]; pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;) {
    Symbol symbol{' ', line, line, false};  // "VALUE TYPE NAME"
    symbol.line.erase(symbol.line.find_last_not_of('\n') + 1);
    const std::size_t type = symbol.line.find(' ') + 1;
    symbol.type = symbol.line[type];
    std::string& name = symbol.name = symbol.line.substr(type + 2);
    for (const char* prefix : {"typeinfo name for ", "typeinfo for ", "vtable for ", "VTT for ", "guard variable for "})
      if (name.rfind(prefix, 0) == 0) name.erase(0, std::string(prefix).size());
    name = QualifiedName(name);
    symbol.toolchains = name.rfind("std::", 0) == 0 || name.rfind("__gnu_cxx::", 0) == 0 ||
                        name.rfind("__gcov", 0) == 0 || name == "mangle_path";
    symbols.push_back(symbol);
  }
  if (pipe != nullptr) pclose(pipe);
  return symbols;
}

TEST(ExportListTest, OnlyTheMarkedApiIsExported) {
  const std::set<std::string> api = NamesMarkedForExport();
  ASSERT_GT(api.count("PipeServer"), 0u) << "no DRAV_FEED_API marks read from the headers";
  int ours = 0;
  for (const Symbol& symbol : Exported(DRAV_BINARY_DIR "/lib/libdravfeed.so")) {
    if (symbol.toolchains) continue;
    EXPECT_TRUE(IsApi(symbol.name, api)) << "internal symbol exported: " << symbol.line;
    ++ours;
  }
  EXPECT_GT(ours, 0) << "nm (binutils) gave no symbols for libdravfeed.so";
}

// No unique symbol either: the loader never unloads a library that has one.
TEST(ExportListTest, OnlyTheEntryPointAndTheFourClassesAreExported) {
  bool entry = false;
  for (const Symbol& symbol : Exported(DRAV_BINARY_DIR "/lib/libdravstream.so")) {
    EXPECT_NE(symbol.type, 'u') << "unique symbol (keeps the plug-in loaded): " << symbol.line;
    entry = entry || symbol.name == "ProcessDACSyntax";
    bool allowed = symbol.toolchains || symbol.name == "ProcessDACSyntax";
    for (const std::string cls : {"StreamParser", "DRAV_StreamDataSrc", "DRAV_StreamIterator", "DRAV_Format"})
      allowed = allowed || symbol.name == cls || symbol.name.rfind(cls + "::", 0) == 0;
    EXPECT_TRUE(allowed) << "unexpected export: " << symbol.line;
  }
  EXPECT_TRUE(entry) << "ProcessDACSyntax is not exported, or nm (binutils) listed nothing of the plug-in";
}

}  // namespace
