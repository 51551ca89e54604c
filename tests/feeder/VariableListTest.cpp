// The feeder's variable list against the corpus of tests/data: the plug-in's
// verdict on every list, its messages word for word, and the record layout.
#include "feeder/VariableList.h"

#include <gtest/gtest.h>

#include "tests/feeder/InputErrorOf.h"
#include "tests/support/VariableListCorpus.h"

namespace drav {
namespace feed {
namespace {

// How the corpus names what the feeder writes for each kind of value.
std::string KindName(const FeedVariable& variable) {
  switch (variable.kind) {
    case ValueKind::kString: return "string";
    case ValueKind::kDate: return "date";
    case ValueKind::kTime: return "time";
    case ValueKind::kNumber: break;
  }
  // Weekday and month numbers are written as plain numbers.
  return variable.type == 26 ? "weekday" : variable.type == 27 ? "month" : "number";
}

test::ListVerdictText VerdictOf(const std::string& list) {
  test::ListVerdictText verdict;
  try {
    const VariableList variables = VariableList::Parse(list);
    verdict.head = test::SlotsField(static_cast<int>(variables.RecordBytes() / wire::kSlotBytes));
    for (const std::string& warning : variables.Warnings())
      verdict.fields.push_back("warning " + test::MessageVerdict(warning, true));
    for (std::size_t i = 0; i < variables.size(); ++i) {
      const FeedVariable& v = variables[i];
      EXPECT_EQ(v.stringWidth, v.kind == ValueKind::kString ? v.width : 0) << v.name;
      verdict.fields.push_back(test::VariableField(v.name, v.type, v.width, v.decimals, KindName(v),
                                                   variables.Layout().FirstSlot(i)));
    }
  } catch (const VariableListError& error) {
    verdict.head = "refused " + test::MessageVerdict(error.what(), false);
    EXPECT_EQ(verdict.head.substr(8, 4), std::to_string(error.MessageId()));
  }
  return verdict;
}

// A refused list keeps no variables, so the corpus's fields after the
// refusal (the warnings and the variables read before it) are not compared:
// a refusal is one message.
std::string WithoutKeptVariables(const std::string& verdict) {
  if (verdict.rfind("refused ", 0) != 0) return verdict;
  return verdict.substr(0, verdict.find('\t'));
}

TEST(VariableListTest, GivesThePluginsVerdictOnEveryListOfTheCorpus) {
  for (const test::ListCase& c : test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    const std::string expected = WithoutKeptVariables(c.verdict);
    if (expected == "0 slots") {
      // The plug-in accepts a list of nothing; a feeder has nothing to serve.
      EXPECT_EQ(InputErrorOf([&] { VariableList::Parse(c.list); }), "the variable list is empty");
      continue;
    }
    EXPECT_EQ(VerdictOf(c.list).Text(), expected) << "line " << c.line << ": " << c.list;
  }
}

TEST(VariableListTest, AFormatWordAloneIsReadByTheSameRules) {
  const FeedVariable string = ReadFormatWord("s", "20A");
  EXPECT_EQ(string.kind, ValueKind::kString);
  EXPECT_EQ(string.stringWidth, 20);
  EXPECT_EQ(ReadFormatWord("t", "time5.2").width, 11);
  try {
    ReadFormatWord("v", "F41.2");
    ADD_FAILURE() << "F41.2 accepted";
  } catch (const VariableListError& error) {
    EXPECT_EQ(error.MessageId(), 2265u);
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
