#include "dravfeed/GeneratedCases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace drav {
namespace feed {
namespace {

TEST(GeneratedCasesTest, NumbersFollowTheDocumentedRule) {
  const struct {
    ValueKind kind;
    std::size_t column;
    std::int64_t i;
    double value;  // NaN: missing
  } cases[] = {
      {ValueKind::kNumber, 0, 13, 13},  {ValueKind::kNumber, 1, 12, 12.25}, {ValueKind::kNumber, 1, 13, std::nan("")},
      {ValueKind::kNumber, 2, 13, 13.5}, {ValueKind::kTime, 0, 1441, 60},    {ValueKind::kTime, 0, 6, 360},
      {ValueKind::kDate, 0, 1440, GeneratedCases::kFirstDate + 86400},
  };
  for (const auto& c : cases) {
    const double value = GeneratedCases::NumberAt(c.kind, c.column, c.i);
    EXPECT_EQ(std::isnan(value), std::isnan(c.value)) << c.column << ", case " << c.i;
    if (!std::isnan(c.value)) EXPECT_EQ(value, c.value) << c.column << ", case " << c.i;
  }
}

// The records a feeder would build one value at a time with the builder,
// from the rule as NumberAt states it.
std::vector<char> OneValueAtATime(const RecordBuilder& builder, std::int64_t first,
                                  std::int64_t count) {
  const VariableList& list = builder.List();
  std::vector<char> records(static_cast<std::size_t>(count) * list.RecordBytes());
  for (std::int64_t k = 0; k < count; ++k) {
    char* record = records.data() + k * list.RecordBytes();
    const std::int64_t i = first + k;
    for (std::size_t column = 0; column < list.size(); ++column) {
      if (list[column].kind == ValueKind::kString)
        builder.SetString(record, column, "c" + std::to_string(i));
      else
        builder.SetNumber(record, column, GeneratedCases::NumberAt(list[column].kind, column, i));
    }
  }
  return records;
}

// Runs of cases are rendered a record at a time with the missing-value and
// day cycles carried along; they must give the bytes of the rule itself
// from any first case, in both byte orders, whatever mix of kinds and
// adjacent or separated numeric columns the list has. (The rule's values
// themselves are checked where dravrun prints generated cases.)
TEST(GeneratedCasesTest, RunsOfCasesMatchTheRuleValueByValue) {
  const char* lists[] = {
      "v1 F8 v2 F8 v3 F8 v4 F8 v5 F8 v6 F8 v7 F8 v8 F8 v9 F8 v10 F8",
      "s A12 a F8 b F8 d DATE t TIME c F8 w A3 e F8.2 dt DATETIME f F8 m MTIME8",
      "t TIME",
      "w A1",
  };
  const std::int64_t starts[] = {0, 1, 6, 1439, 1440, 99995, 123456789012};
  for (const char* text : lists) {
    VariableList list = VariableList::Parse(text);
    for (ByteOrder order : {ByteOrder::kNative, ByteOrder::kSwapped}) {
      RecordBuilder builder(list, order);
      GeneratedCases cases(builder, 200000000000);
      for (std::int64_t first : starts) {
        SCOPED_TRACE(std::string(text) + (order == ByteOrder::kSwapped ? ", swapped" : "") +
                     ", from case " + std::to_string(first));
        const std::int64_t count = 1500;
        std::vector<char> rendered(count * list.RecordBytes(), 'x');
        cases.Render(first, count, rendered.data());
        const std::vector<char> expected = OneValueAtATime(builder, first, count);
        const auto differ = std::mismatch(rendered.begin(), rendered.end(), expected.begin()).first;
        EXPECT_TRUE(differ == rendered.end())
            << "first difference in case " << first + (differ - rendered.begin()) / list.RecordBytes()
            << ", byte " << (differ - rendered.begin()) % list.RecordBytes();
      }
    }
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
