// Both tools read their command line by one grammar: the same misuse gets
// the same one-line answer and status 2 from each, and "--opt=value" means
// exactly what "--opt value" means. Real processes, no feeder needed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace drav {
namespace test {
namespace {

// $V: an option of the tool's with a value; $G, $B: a value it takes, one it
// refuses; $F: a flag of the tool's.
struct Tool {
  std::string name;
  std::vector<std::pair<std::string, std::string>> marks;
};
const Tool kTools[] = {{"dravrun", {{"$V", "--limit"}, {"$G", "3"}, {"$B", "5k"}, {"$F", "--exact"}}},
                       {"dravfeed", {{"$V", "--linger"}, {"$G", "1"}, {"$B", "soon"}, {"$F", "--verbose"}}}};

// `err` is the problem as both tools word it; with `sameAs` instead, the
// arguments must give what those give.
const struct {
  std::vector<std::string> args;
  int status;
  std::string err;
  std::vector<std::string> sameAs;
} kRows[] = {
    {{"--frobnicate"}, 2, "unknown option '--frobnicate'", {}},
    {{"--frobnicate=$G"}, 2, "unknown option '--frobnicate'", {}},
    {{"-Z"}, 2, "unknown option '-Z'", {}},
    {{"$V"}, 2, "option '$V' needs a value", {}},
    {{"$F=yes"}, 2, "option '$F' takes no value", {}},
    {{"$V=$G", "--version"}, 0, "", {}},
    {{"$V=$B"}, 2, "", {"$V", "$B"}},
    {{"$V=-1"}, 2, "", {"$V", "-1"}},  // a value may start with a dash
    {{"$V="}, 2, "", {"$V", ""}},
};

std::string Expand(std::string text, const Tool& tool) {
  for (const auto& [mark, value] : tool.marks) {
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
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
    for (const auto& row : kRows) {
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
