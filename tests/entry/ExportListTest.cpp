// The plug-in exports the entry point and four classes, nothing of its own
// beyond them. Instantiations of standard-library templates that the
// toolchain makes visible are not ours and are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string kLibrary = DRAV_BINARY_DIR "/lib/libdravstream.so";

std::vector<std::string> ExportedSymbols() {
  std::vector<std::string> symbols;
  const std::string command = "nm -D --defined-only --demangle --just-symbols '" + kLibrary + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char line[8192];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    symbols.emplace_back(line);
    while (!symbols.back().empty() && symbols.back().back() == '\n') symbols.back().pop_back();
  }
  pclose(pipe);
  return symbols;
}

// The qualified name of a symbol: without a "typeinfo for"-style prefix,
// the return type of a template function, and the parameter list.
std::string QualifiedName(std::string symbol) {
  for (const char* prefix : {"typeinfo name for ", "typeinfo for ", "vtable for ", "VTT for "})
    if (symbol.rfind(prefix, 0) == 0) symbol.erase(0, std::string(prefix).size());
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < symbol.size(); ++i) {
    char c = symbol[i];
    if (c == '<') ++depth;
    if (c == '>') --depth;
    if (c == '(' && depth == 0) return symbol.substr(start, i - start);
    if (c == ' ' && depth == 0) start = i + 1;
  }
  return symbol.substr(start);
}

bool IsStandardLibrary(const std::string& name) {
  return name.rfind("std::", 0) == 0 || name.rfind("__gnu_cxx::", 0) == 0;
}

bool IsAllowed(const std::string& name) {
  if (name == "ProcessDACSyntax") return true;
  for (const char* cls : {"StreamParser", "DRAV_StreamDataSrc", "DRAV_StreamIterator", "DRAV_Format"}) {
    const std::string c = cls;
    if (name == c || name.rfind(c + "::", 0) == 0) return true;
  }
  return false;
}

TEST(ExportListTest, OnlyTheEntryPointAndTheFourClassesAreExported) {
  struct stat st;
  ASSERT_EQ(stat(kLibrary.c_str(), &st), 0) << kLibrary << " is missing: build target dravstream first";
  std::vector<std::string> symbols = ExportedSymbols();
  ASSERT_FALSE(symbols.empty()) << "nm (binutils) gave no symbols for " << kLibrary;
  bool entry = false;
  for (const std::string& symbol : symbols) {
    const std::string name = QualifiedName(symbol);
    if (name == "ProcessDACSyntax") entry = true;
    if (IsStandardLibrary(name)) continue;
    EXPECT_TRUE(IsAllowed(name)) << "unexpected export: " << symbol;
  }
  EXPECT_TRUE(entry) << "ProcessDACSyntax is not exported";
}

}  // namespace
