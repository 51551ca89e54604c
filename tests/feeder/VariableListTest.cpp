// The feeder's variable list against the corpus of tests/data: the plug-in's
// verdict on every list, its messages word for word, and the record layout.
#include "dravfeed/VariableList.h"

#include <gtest/gtest.h>

#include "tests/support/VariableListCorpus.h"

namespace drav {
namespace feed {
namespace {

// The corpus's words for a variable; weekday and month numbers are written
// as plain numbers.
std::string KindName(const FeedVariable& v) {
  if (v.kind == ValueKind::kNumber) return v.type == 26 ? "weekday" : v.type == 27 ? "month" : "number";
  return v.kind == ValueKind::kString ? "string" : v.kind == ValueKind::kDate ? "date" : "time";
}

// A refusal is one message: the feeder keeps no variables and gives no
// warnings then, so only the corpus's first field is compared.
std::string VerdictOf(const std::string& list) {
  try {
    const VariableList variables = VariableList::Parse(list);
    std::string verdict = std::to_string(variables.RecordBytes() / wire::kSlotBytes) + " slots";
    for (const std::string& warning : variables.Warnings())
      verdict += "\twarning " + test::MessageVerdict(warning, true);
    for (std::size_t i = 0; i < variables.size(); ++i) {
      const FeedVariable& v = variables[i];
      EXPECT_EQ(v.stringWidth, v.kind == ValueKind::kString ? v.width : 0) << v.name;
      verdict += test::VariableField(v.name, v.type, v.width, v.decimals, KindName(v), variables.Layout().FirstSlot(i));
    }
    return verdict;
  } catch (const VariableListError& error) {
    const std::string verdict = test::MessageVerdict(error.what(), false);
    EXPECT_EQ(verdict.substr(0, 4), std::to_string(error.MessageId()));
    return "refused " + verdict;
  } catch (const InputError& error) {
    return error.what();
  }
}

TEST(VariableListTest, GivesThePluginsVerdictOnEveryListOfTheCorpus) {
  for (const test::ListCase& c : test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    // The plug-in accepts a list of nothing; a feeder has nothing to serve.
    const std::string expected = c.verdict == "0 slots" ? "the variable list is empty"
                                 : c.verdict.rfind("refused ", 0) == 0 ? c.verdict.substr(0, c.verdict.find('\t'))
                                                                       : c.verdict;
    EXPECT_EQ(VerdictOf(c.list), expected) << "line " << c.line << ": " << c.list;
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
