#include "feeder/sources/VariableInference.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/feeder/InputErrorOf.h"

namespace drav {
namespace feed {
namespace {

// One column's values, and the format proposed for them. What the Python
// package proposes for the same values is checked against dravfeed end to
// end (python/tests/test_roundtrip.py); these are the edges of each kind.
TEST(VariableInferenceTest, EachColumnGetsTheNarrowestFormatThatHoldsItsValues) {
  const struct {
    std::vector<std::string> values;
    const char* format;
  } cases[] = {
      {{"1", "-22", "333"}, "F3"},
      {{"1", "", " "}, "F1"},  // empty and blank fields are missing values
      {{"9007199254740992", "0"}, "F16"},
      {{"9007199254740994"}, "F40.16"},  // beyond 2^53: not every whole number is a double
      {{"1.0", "-10"}, "F3"},
      {{"1.5", "2"}, "F40.16"},
      {{"1e300"}, "F40.16"},
      {{"", ""}, "F40.16"},
      {{"2024-03-01", "1969-12-31T00:00:00"}, "DATE11"},
      {{"2024-03-01", "2024-03-01 00:00:00.25"}, "DATETIME23.2"},
      {{"12:30", "-01:00:00.5", "36:00:00"}, "TIME11.2"},
      {{"1", "2024-03-01"}, "A10"},  // a number is no date: text
      {{"2024-03-01", "1"}, "A10"},
      {{"2024-03-01", "12:30"}, "A10"},
      {{"ab", "\xC3\xA9\xC3\xA9\xC3\xA9"}, "A6"},  // bytes, not characters
      {{"inf", "nan"}, "A3"},
  };
  for (const auto& c : cases) {
    VariableInference inference({"c"});
    for (const std::string& value : c.values) inference.Add({value});
    EXPECT_EQ(inference.ListText(), std::string("c ") + c.format) << c.values.front() << ", ...";
  }
}

TEST(VariableInferenceTest, LabelsBecomeValidDistinctNames) {
  const std::vector<std::string> labels = {"a b", "1st", "AND", "x", "X", "\xC3\xA9.", "^GSPC", "",
                                           std::string(70, 'n'), std::string(70, 'n'), "\xC3\xA9" + std::string(70, 'e')};
  VariableInference inference(labels);
  inference.Add(std::vector<std::string>(labels.size(), "1"));
  const std::string n64(64, 'n'), cut = "\xC3\xA9" + std::string(62, 'e');
  EXPECT_EQ(inference.ListText(), "a_b F1 v1st F1 AND_ F1 x F1 X_2 F1 \xC3\xA9 F1 v_GSPC F1 v F1 " + n64 + " F1 " +
                                      std::string(62, 'n') + "_2 F1 " + cut + " F1");
}

TEST(VariableInferenceTest, RefusesRecordsTheHeaderDoesNotFitAndStringsNoVariableHolds) {
  VariableInference inference({"a", "b"});
  EXPECT_EQ(InputErrorOf([&] { inference.Add({"1"}); }), "record 1 has 1 fields, but the header names 2 columns");
  inference.Add({"1", std::string(32768, 'x')});
  EXPECT_EQ(InputErrorOf([&] { inference.ListText(); }),
            "column 2 (b) holds a value of 32768 bytes, wider than the 32767 a string variable can hold");
}

}  // namespace
}  // namespace feed
}  // namespace drav
