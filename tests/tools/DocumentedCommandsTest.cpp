// Every command and dravfeed variable list the README and both --help texts show is accepted by
// the parser and dravrun; found in the texts themselves, a new example is checked at once.
#include <gtest/gtest.h>

#include "entry/CommandTextBuilder.h"
#include "host/CommandAdapter.h"
#include "parser/StreamParser.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/dravrun/CommandFacts.h"

namespace drav::test {
namespace {

// The commands in `text`: a head with subcommands up to the first full stop ending a line or a quoted argument.
std::vector<std::string> CommandsIn(const std::string& text) {
  const std::string head = "GET DATA /TYPE = STREAM";
  std::vector<std::string> commands;
  for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    const std::size_t next = text.find_first_not_of(" \n", at + head.size());
    if (next == std::string::npos || text[next] != '/') continue;
    std::size_t stop = text.find('.', next);
    while (stop != std::string::npos && stop + 1 < text.size() && text[stop + 1] != '\n' && text[stop + 1] != '"')
      stop = text.find('.', stop + 1);
    commands.push_back(text.substr(at, stop == std::string::npos ? std::string::npos : stop + 1 - at));
  }
  return commands;
}

// The lists given to dravfeed --variables "...", but the synopsis's placeholder.
std::vector<std::string> VariableListsIn(const std::string& text) {
  const std::string option = "--variables \"";
  std::vector<std::string> lists;
  for (std::size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
    const std::size_t start = at + option.size();
    const std::string list = text.substr(start, text.find('"', start) - start);
    if (list != "LIST") lists.push_back(list);
  }
  return lists;
}

// Empty when dravrun and the parser both take `command`; else what stops it.
std::string WhyRefused(const std::string& command) {
  TokenizeResult tokens = TokenizeStreamCommand(command);
  if (!tokens.ok) return tokens.error;
  const dravrun::CommandFacts facts = dravrun::FactsOf(tokens.tokens);
  if (!facts.namesStream) return "dravrun: names no stream";
  if (!facts.hasVariables || facts.noVariables) return "dravrun: names no variable";
  if (!facts.ignoredText.empty()) return "dravrun: text after the full stop: " + facts.ignoredText;
  CommandAdapter adapter(tokens.tokens, nullptr);
  const std::string text = drav::entry::RebuildCommandText(*adapter.GetTokenSource());
  StreamParser parser(text.c_str(), &adapter);
  if (parser.ParseToExecutor() != 0) return parser.GetErrorMesToken();
  if (!parser.GetWarningList()->empty()) return "the parser warns about it";
  return "";
}

struct Documented {
  std::string where, text;
};

TEST(DocumentedCommands, EveryCommandAndVariableListShownIsAcceptedAndTheHelpIsInTheReadme) {
  std::vector<Documented> texts = {
      {"README.md", TempDir::Read(DRAV_SOURCE_DIR "/README.md")},
      // The README and the help run it with -f.
      {"examples/weather.cmd", TempDir::Read(DRAV_SOURCE_DIR "/examples/weather.cmd")},
  };
  for (const char* tool : {"dravrun", "dravfeed"}) {
    const ProcessResult r = RunProcess({BinaryPath(tool), "--help"});
    EXPECT_EQ(r.exitCode, 0) << tool << ": " << r.err;
    texts.push_back({std::string(tool) + " --help", r.out});
  }
  int commands = 0, lists = 0;
  for (const Documented& doc : texts) {
    ASSERT_FALSE(doc.text.empty()) << doc.where;
    if (doc.where.find(" --help") != std::string::npos) {
      EXPECT_NE(texts[0].text.find("### " + doc.where + "\n\n```\n" + doc.text + "```\n"), std::string::npos)
          << "README.md does not show the current " << doc.where;
    }
    for (const std::string& command : CommandsIn(doc.text)) {
      EXPECT_EQ(WhyRefused(command), "") << doc.where << ": " << command;
      ++commands;
    }
    for (const std::string& list : VariableListsIn(doc.text)) {
      EXPECT_EQ(WhyRefused("GET DATA /TYPE = STREAM /PIPE = '/tmp/cases' /VARIABLES = " + list + " ."), "")
          << doc.where << ": --variables \"" << list << "\"";
      ++lists;
    }
  }
  // The README's tour alone shows more than ten of each: fewer means a broken search.
  EXPECT_GE(commands, 10);
  EXPECT_GE(lists, 5);
}

// One grammar for both tools: the same misuse gets the same answer and status 2; "--opt=value"
// means "--opt value". $V: an option with a value; $G, $B: a value it takes, one it refuses; $F: a flag.
struct Tool {
  std::string name;
  std::vector<std::pair<std::string, std::string>> marks;
};
const Tool kTools[] = {{"dravrun", {{"$V", "--limit"}, {"$G", "3"}, {"$B", "5k"}, {"$F", "--exact"}}},
                       {"dravfeed", {{"$V", "--linger"}, {"$G", "1"}, {"$B", "soon"}, {"$F", "--verbose"}}}};

// `err`: the problem as both tools word it; or the arguments must give what `sameAs` give.
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
  for (const auto& [mark, value] : tool.marks)
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
  return text;
}

ProcessResult RunTool(const Tool& tool, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BinaryPath(tool.name)};
  for (const std::string& arg : args) argv.push_back(Expand(arg, tool));
  return RunProcess(argv);
}

TEST(OptionGrammar, BothToolsAnswerTheSameMisuseTheSameWay) {
  for (const Tool& tool : kTools) {
    for (const auto& row : kRows) {
      SCOPED_TRACE(tool.name + " " + Expand(testing::PrintToString(row.args), tool));
      const ProcessResult r = RunTool(tool, row.args);
      EXPECT_EQ(r.exitCode, row.status) << r.err;
      if (row.status == 0) {
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind(tool.name + " ", 0), 0u) << r.out;
      } else if (row.sameAs.empty()) {
        EXPECT_EQ(r.err, tool.name + ": " + Expand(row.err, tool) + "; see " + tool.name + " --help\n");
        EXPECT_EQ(r.out, "");
      } else {
        const ProcessResult spaced = RunTool(tool, row.sameAs);
        EXPECT_EQ(spaced.exitCode, row.status) << "spaced: " << spaced.err;
        EXPECT_EQ(r.err, spaced.err);
      }
    }
  }
}

}  // namespace
}  // namespace drav::test
