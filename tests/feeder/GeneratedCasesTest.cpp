#include "feeder/GeneratedCases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

}  // namespace
}  // namespace feed
}  // namespace drav
