#include "feeder/GeneratedCases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace drav {
namespace feed {
namespace {

double Slot(const std::vector<char>& records, std::size_t recordBytes, std::int64_t i,
            std::size_t offset) {
  double value;
  std::memcpy(&value, records.data() + i * recordBytes + offset, 8);
  return value;
}

TEST(GeneratedCasesTest, ValuesFollowTheDocumentedRuleFromAnyStart) {
  VariableList list = VariableList::Parse("a F8 b F8 s A4 d DATE t TIME");
  RecordBuilder builder(list, ByteOrder::kNative);
  GeneratedCases cases(builder, 2000);
  const std::size_t bytes = list.RecordBytes();
  std::vector<char> all(2000 * bytes), some(3 * bytes);
  cases.Render(0, 2000, all.data());
  cases.Render(1439, 3, some.data());
  EXPECT_EQ(0, std::memcmp(all.data() + 1439 * bytes, some.data(), some.size()));
  struct Expected {
    std::int64_t i;
    double a, b;
    const char* s;
    double d, t;
  };
  const double nan = std::nan("");
  const Expected expected[] = {
      {0, 0, 0.25, "c0  ", GeneratedCases::kFirstDate, 0},
      {6, 6, nan, "c6  ", GeneratedCases::kFirstDate + 360, 360},
      {13, 13, nan, "c13 ", GeneratedCases::kFirstDate + 780, 780},
      {1440, 1440, 1440.25, "c144", GeneratedCases::kFirstDate + 86400, 0},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.i);
    EXPECT_EQ(Slot(all, bytes, e.i, 0), e.a);
    double b = Slot(all, bytes, e.i, 8);
    if (std::isnan(e.b))
      EXPECT_TRUE(std::isnan(b));
    else
      EXPECT_EQ(b, e.b);
    EXPECT_EQ(std::string(all.data() + e.i * bytes + 16, 4), e.s);
    EXPECT_EQ(Slot(all, bytes, e.i, 24), e.d);
    EXPECT_EQ(Slot(all, bytes, e.i, 32), e.t);
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
// adjacent or separated numeric columns the list has.
TEST(GeneratedCasesTest, RunsOfCasesMatchTheRuleValueByValue) {
  const char* lists[] = {
      "v1 F8 v2 F8 v3 F8 v4 F8 v5 F8 v6 F8 v7 F8 v8 F8 v9 F8 v10 F8",
      "s A12 a F8 b F8 d DATE t TIME c F8 w A3 e F8.2 dt DATETIME f F8 m MTIME",
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
