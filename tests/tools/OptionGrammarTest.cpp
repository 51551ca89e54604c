// Both tools read their command line by one grammar: the same misuse gets
// the same one-line answer and status 2 from each, and "--opt=value" means
// exactly what "--opt value" means. Real processes, no feeder needed.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace drav {
namespace test {
namespace {

// What a row needs of each tool: an option with a value, a value it takes
// and one it refuses, and a flag.
struct Tool {
  std::string name, valued, good, bad, flag;
};
const Tool kTools[] = {{"dravrun", "--limit", "3", "5k", "--exact"},
                       {"dravfeed", "--linger", "1", "soon", "--verbose"}};

// In a row, $V stands for the tool's option with a value, $G and $B for a
// value it takes and one it refuses, $F for its flag. A row with `sameAs`
// must give what those arguments give: the value after "=" is the value.
struct Row {
  std::vector<std::string> args;
  int status;
  std::string err;  // the problem, as both tools word it
  std::vector<std::string> sameAs;
};
const Row kRows[] = {
    {{"--frobnicate"}, 2, "unknown option '--frobnicate'", {}},
    {{"--frobnicate=$G"}, 2, "unknown option '--frobnicate'", {}},
    {{"-Z"}, 2, "unknown option '-Z'", {}},
    {{"-version"}, 2, "unknown option '-version'", {}},
    {{"$V"}, 2, "option '$V' needs a value", {}},
    {{"$F", "$V"}, 2, "option '$V' needs a value", {}},
    {{"$F=yes"}, 2, "option '$F' takes no value", {}},
    {{"--help="}, 2, "option '--help' takes no value", {}},
    {{"$V=$G", "--version"}, 0, "", {}},
    {{"$V", "$G", "$F", "--version"}, 0, "", {}},
    {{"$V=$B"}, 2, "", {"$V", "$B"}},
    {{"$V=-1"}, 2, "", {"$V", "-1"}},  // a value may start with a dash,
    {{"$V", "--version"}, 2, "", {"$V=--version"}},  // or look like an option
    {{"$V="}, 2, "", {"$V", ""}},
};

std::string Expand(std::string text, const Tool& tool) {
  for (const auto& [mark, value] : {std::pair<const char*, const std::string&>{"$V", tool.valued},
                                    {"$G", tool.good}, {"$B", tool.bad}, {"$F", tool.flag}}) {
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
      text.replace(at, 2, value);
  }
  return text;
}

ProcessResult RunTool(const Tool& tool, const std::vector<std::string>& args, std::string& shown) {
  std::vector<std::string> argv = {BinaryPath(tool.name)};
  shown = tool.name;
  for (const std::string& arg : args) {
    argv.push_back(Expand(arg, tool));
    shown += " '" + argv.back() + "'";
  }
  return RunProcess(argv);
}

TEST(OptionGrammar, BothToolsAnswerTheSameMisuseTheSameWay) {
  for (const Tool& tool : kTools) {
    for (const Row& row : kRows) {
      std::string shown, spacedShown;
      const ProcessResult r = RunTool(tool, row.args, shown);
      EXPECT_EQ(r.exitCode, row.status) << shown << "\n" << r.err;
      if (row.status == 0) {
        EXPECT_EQ(r.err, "") << shown;
        EXPECT_EQ(r.out.rfind(tool.name + " ", 0), 0u) << shown << ": " << r.out;
      } else if (row.sameAs.empty()) {
        EXPECT_EQ(r.err, tool.name + ": " + Expand(row.err, tool) + "; see " + tool.name + " --help\n") << shown;
        EXPECT_EQ(r.out, "") << shown;
      } else {
        const ProcessResult spaced = RunTool(tool, row.sameAs, spacedShown);
        EXPECT_EQ(spaced.exitCode, row.status) << spacedShown << "\n" << spaced.err;
        EXPECT_EQ(r.err, spaced.err) << shown << " and " << spacedShown;
      }
    }
  }
}

}  // namespace
}  // namespace test
}  // namespace drav
