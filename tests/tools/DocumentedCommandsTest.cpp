// Every command the README and both --help texts show, and every variable
// list they give dravfeed, is one the parser accepts and dravrun does not
// refuse: a user who copies an example must never meet a refusal. The
// commands are found in the texts themselves, so a new example is checked
// the day it is written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entry/CommandTextBuilder.h"
#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "parser/StreamParser.h"
#include "tests/support/ChildProcess.h"
#include "tools/dravrun/CommandFacts.h"

namespace drav {
namespace test {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Documented {
  std::string where;
  std::string text;
};

std::vector<Documented> DocumentTexts() {
  std::vector<Documented> texts = {
      {"README.md", ReadText(DRAV_SOURCE_DIR "/README.md")},
      // The README and the help run it with -f.
      {"examples/weather.cmd", ReadText(DRAV_SOURCE_DIR "/examples/weather.cmd")},
  };
  for (const char* tool : {"dravrun", "dravfeed"})
    texts.push_back({std::string(tool) + " --help", RunProcess({BinaryPath(tool), "--help"}).out});
  return texts;
}

// The commands in `text`: from a head that subcommands follow to the first
// full stop that ends a line or a quoted shell argument. A mention of the
// head alone ("a GET DATA /TYPE = STREAM command") is no command.
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

// The lists given to dravfeed --variables "...", but the synopsis's
// placeholder.
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

TEST(DocumentedCommands, EveryCommandAndVariableListShownIsAccepted) {
  int commands = 0, lists = 0;
  for (const Documented& doc : DocumentTexts()) {
    ASSERT_FALSE(doc.text.empty()) << doc.where;
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
  // The README's tour alone shows more than ten of each; finding fewer
  // would mean the search, not the documents, is broken.
  EXPECT_GE(commands, 10);
  EXPECT_GE(lists, 5);
}

TEST(DocumentedCommands, TheReadmeShowsTheHelpOfBothToolsWordForWord) {
  const std::string readme = ReadText(DRAV_SOURCE_DIR "/README.md");
  for (const char* tool : {"dravrun", "dravfeed"}) {
    const ProcessResult r = RunProcess({BinaryPath(tool), "--help"});
    ASSERT_EQ(r.exitCode, 0) << tool << ": " << r.err;
    EXPECT_NE(readme.find("### " + std::string(tool) + " --help\n\n```\n" + r.out + "```\n"), std::string::npos)
        << "README.md does not show the current " << tool << " --help";
  }
}

}  // namespace
}  // namespace test
}  // namespace drav
