#include "feeder/RecordBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "feeder/DateTimeText.h"
#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

double NumberIn(const std::vector<char>& record, const VariableList& list, std::size_t column) {
  double value;
  std::memcpy(&value, record.data() + list.Layout().ByteOffset(column), 8);
  return value;
}

std::string StringIn(const std::vector<char>& record, const VariableList& list, std::size_t column) {
  std::size_t slots = wire::SlotsFor(list.Layout().StringWidth(column));
  return std::string(record.data() + list.Layout().ByteOffset(column), slots * wire::kSlotBytes);
}

TEST(RecordBuilderTest, StringsArePaddedToTheirSlotsOrCutAtACharacter) {
  VariableList list = VariableList::Parse("s A5 n F8");
  RecordBuilder builder(list, ByteOrder::kNative);
  struct Case {
    const char* text;
    const char* stored;  // 8 bytes: the variable's whole slot
  };
  const Case cases[] = {
      {"", "        "},
      {"ab", "ab      "},
      {"abcde", "abcde   "},
      {"abcdefgh", "abcde   "},
      {"abc\xC3\xA9x", "abc\xC3\xA9   "},  // é fits in bytes 4 and 5
      {"abcd\xC3\xA9", "abcd    "},          // é would straddle the width
      {" lead", " lead   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> record(list.RecordBytes(), 'x');
    builder.SetText(record.data(), 0, c.text);
    EXPECT_EQ(StringIn(record, list, 0), c.stored);
  }
}

TEST(RecordBuilderTest, NumbersFromTextAndMissingValues) {
  VariableList list = VariableList::Parse("n F8.2");
  RecordBuilder builder(list, ByteOrder::kNative);
  struct Case {
    const char* text;
    double value;  // NaN: missing
  };
  const double nan = std::nan("");
  const Case cases[] = {{"12", 12},      {"-3.5e2", -350}, {"+.5", 0.5},    {"  7 ", 7},
                        {"", nan},       {"   ", nan},     {"\t", nan},     {"0", 0},
                        {"1e-3", 0.001}, {"-0", -0.0},     {"1.7976931348623157e308", 1.7976931348623157e308}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> record(list.RecordBytes());
    builder.SetText(record.data(), 0, c.text);
    double stored = NumberIn(record, list, 0);
    if (std::isnan(c.value))
      EXPECT_TRUE(std::isnan(stored));
    else
      EXPECT_EQ(stored, c.value);
  }
  const char* refused[] = {"abc", "1,5", "1.2.3", "inf", "nan", "0x10", "1e999", "12abc", "--1", "."};
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    std::vector<char> record(list.RecordBytes());
    EXPECT_THROW(builder.SetText(record.data(), 0, text), InputError);
  }
}

TEST(RecordBuilderTest, DatesAndTimesBecomeSecondsSince1970) {
  VariableList list = VariableList::Parse("d DATETIME t TIME");
  RecordBuilder builder(list, ByteOrder::kNative);
  struct Case {
    std::size_t column;
    const char* text;
    double seconds;
  };
  const Case cases[] = {
      {0, "1970-01-01", 0},
      {0, "1970-01-02", 86400},
      {0, "1969-12-31", -86400},
      {0, "2024-03-01", 1709251200},
      {0, "2024-02-29T00:00:00", 1709164800},
      {0, "2024-03-01T12:30:00", 1709296200},
      {0, "2024-03-01 12:30:00", 1709296200},
      {0, "2024-03-01T12:30", 1709296200},
      {0, "2024-03-01T12:30:00Z", 1709296200},
      {0, "2024-03-01T12:30:00.25", 1709296200.25},
      {0, "2000-02-29", 951782400},
      {0, "1582-10-15", -12219292800},
      {0, "86400", 86400},  // already seconds
      {1, "12:30:00", 45000},
      {1, "12:30", 45000},
      {1, "00:00:00.5", 0.5},
      {1, "00:00:00.000001", 0.000001},  // the sixth decimal counts
      {0, "1970-01-01T00:00:59.999999", 59.999999},
      {1, "36:00:00", 129600},
      {1, "-1:00:00", -3600},
      {1, "3600", 3600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> record(list.RecordBytes());
    builder.SetText(record.data(), c.column, c.text);
    EXPECT_DOUBLE_EQ(NumberIn(record, list, c.column), c.seconds);
  }
}

TEST(RecordBuilderTest, RefusesDatesAndTimesThatAreNotOnTheCalendar) {
  const char* dates[] = {"2023-02-29", "2024-13-01", "2024-00-10", "2024-04-31",
                         "2024-3-1",   "2024/03/01", "2024-03-01T24:00", "2024-03-01T12:60",
                         "2024-03-01T12:30:60", "2024-03-01T12:30:00+01:00", "2024-03-01X",
                         "yesterday"};
  for (const char* text : dates) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseDateSeconds(text), InputError);
  }
  const char* times[] = {"12", "12:3", "12:30:5", "12:60", "12:30:60", "ab:cd", "12:30:00.", "1:00 pm"};
  for (const char* text : times) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseTimeSeconds(text), InputError);
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
