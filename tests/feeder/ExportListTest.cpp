// libdravfeed.so exports its API and nothing else: the classes and functions
// the installed headers mark DRAV_FEED_API, with their own members (not those
// of a class nested in them, such as a private implementation), and the
// instances of standard templates the toolchain emits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace {

std::set<std::string> NamesMarkedForExport() {
  std::set<std::string> names;
  const std::regex marked(R"(class DRAV_FEED_API (\w+)|DRAV_FEED_API [^(;]* (\w+)\()");
  for (const auto& entry : std::filesystem::directory_iterator(DRAV_SOURCE_DIR "/feeder/include/dravfeed")) {
    std::ifstream in(entry.path());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (std::sregex_iterator it(text.begin(), text.end(), marked), end; it != end; ++it)
      names.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
  }
  return names;
}

// "void drav::feed::X::F<true>(long) const" -> "drav::feed::X::F<true>": no
// parameters, and no return type (a template function's comes first).
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

// "drav::feed::PipeServer::Serve" -> whether it is an API name or one of its
// members; anything else of ours is an internal symbol.
bool IsApi(std::string name, const std::set<std::string>& api) {
  const std::string ours = "drav::feed::";
  if (name.rfind(ours, 0) != 0) return false;
  name.erase(0, ours.size());
  if (name.rfind("jetstream::", 0) == 0) name.erase(0, 11);
  const std::size_t colon = name.find("::");
  return api.count(name.substr(0, colon)) == 1 &&
         (colon == std::string::npos || name.find("::", colon + 2) == std::string::npos);
}

TEST(ExportListTest, OnlyTheMarkedApiIsExported) {
  const std::set<std::string> api = NamesMarkedForExport();
  ASSERT_GT(api.count("PipeServer"), 0u) << "no DRAV_FEED_API marks read from the headers";
  const std::string library = DRAV_BINARY_DIR "/lib/libdravfeed.so";
  FILE* pipe = popen(("nm -D --defined-only --demangle '" + library + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int ours = 0;
  for (char line[8192]; std::fgets(line, sizeof line, pipe) != nullptr;) {
    std::string name = line;  // "VALUE TYPE NAME"
    name.erase(name.find_last_not_of('\n') + 1);
    name.erase(0, name.find(' ', name.find(' ') + 1) + 1);
    const std::string symbol = name;
    for (const char* prefix : {"typeinfo name for ", "typeinfo for ", "vtable for ", "guard variable for "})
      if (name.rfind(prefix, 0) == 0) name.erase(0, std::string(prefix).size());
    name = QualifiedName(name);
    if (name.rfind("std::", 0) == 0 || name.rfind("__gnu_cxx::", 0) == 0 || name.rfind("__gcov", 0) == 0 ||
        name == "mangle_path")  // a coverage build's runtime
      continue;
    EXPECT_TRUE(IsApi(name, api)) << "internal symbol exported: " << symbol;
    ++ours;
  }
  pclose(pipe);
  EXPECT_GT(ours, 0) << "nm (binutils) gave no symbols for " << library;
}

}  // namespace
