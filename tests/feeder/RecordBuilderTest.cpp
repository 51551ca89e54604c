#include "dravfeed/RecordBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "dravfeed/FeederError.h"
#include "tests/feeder/InputErrorOf.h"

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

// Numbers as C decimal numbers, dates and times as ISO 8601 text (or
// seconds); blank text is a missing value (NaN).
TEST(RecordBuilderTest, TextBecomesTheNumberOfItsKind) {
  const VariableList list = VariableList::Parse("n F8.2 d DATETIME t TIME");
  const RecordBuilder builder(list, ByteOrder::kNative);
  const double nan = std::nan("");
  const struct {
    std::size_t column;
    const char* text;
    double value;
  } cases[] = {
      {0, "12", 12}, {0, "-3.5e2", -350}, {0, "+.5", 0.5}, {0, "  7 ", 7}, {0, "", nan}, {0, "\t ", nan},
      {0, "1e-3", 0.001}, {0, "-0", -0.0}, {0, "1.7976931348623157e308", 1.7976931348623157e308},
      {1, "1970-01-01", 0}, {1, "1969-12-31", -86400}, {1, "2024-03-01", 1709251200}, {1, " ", nan},
      {1, "2024-02-29T00:00:00", 1709164800}, {1, "2024-03-01T12:30:00", 1709296200},
      {1, "2024-03-01 12:30:00", 1709296200}, {1, "2024-03-01T12:30", 1709296200},
      {1, "2024-03-01T12:30:00Z", 1709296200}, {1, "2024-03-01T12:30:00.25", 1709296200.25},
      {1, "2000-02-29", 951782400}, {1, "1582-10-15", -12219292800}, {1, "86400", 86400},
      {1, "1970-01-01T00:00:59.999999", 59.999999}, {2, "12:30:00", 45000}, {2, "12:30", 45000},
      {2, "00:00:00.000001", 0.000001}, {2, "36:00:00", 129600}, {2, "-1:00:00", -3600}, {2, "3600", 3600},
  };
  for (const auto& c : cases) {
    std::vector<char> record(list.RecordBytes());
    builder.SetText(record.data(), c.column, c.text);
    const double stored = NumberIn(record, list, c.column);
    // Within a billionth of a second: the digits of a fraction are summed.
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(stored) : std::fabs(stored - c.value) < 1e-9)
        << c.text << " gave " << stored;
  }
}

TEST(RecordBuilderTest, RefusesTextThatIsNoValueOfItsKind) {
  const VariableList list = VariableList::Parse("n F8.2 d DATETIME t TIME");
  const RecordBuilder builder(list, ByteOrder::kNative);
  const struct {
    std::size_t column;
    const char* text;
  } cases[] = {
      {0, "abc"}, {0, "1,5"}, {0, "1.2.3"}, {0, "inf"}, {0, "nan"}, {0, "0x10"}, {0, "1e999"}, {0, "12abc"},
      {0, "--1"}, {0, "."}, {1, "2023-02-29"}, {1, "2024-13-01"}, {1, "2024-00-10"}, {1, "2024-04-31"},
      {1, "2024-3-1"}, {1, "2024/03/01"}, {1, "2024-03-01T24:00"}, {1, "2024-03-01T12:60"},
      {1, "2024-03-01T12:30:60"}, {1, "2024-03-01T12:30:00+01:00"}, {1, "2024-03-01X"}, {1, "yesterday"},
      {2, ":30"}, {2, "12:3"}, {2, "12:30:5"}, {2, "12:60"}, {2, "12:30:60"}, {2, "ab:cd"}, {2, "12:30:00."},
      {2, "1:00 pm"},
  };
  for (const auto& c : cases) {
    std::vector<char> record(list.RecordBytes());
    EXPECT_THROW(builder.SetText(record.data(), c.column, c.text), InputError) << c.text;
  }
}

// A list inferred from a sample adapts nothing later: what the sample would
// not have let through is refused, not cut or read as seconds.
TEST(RecordBuilderTest, ExactFitRefusesWhatAdaptingWouldChange) {
  const VariableList list = VariableList::Parse("s A2 d DATETIME t TIME");
  const struct {
    std::size_t column;
    const char* text;
    bool exactTakesIt;
  } cases[] = {
      {0, "ab", true}, {0, "abc", false}, {0, "\xC3\xA9", true}, {0, "a\xC3\xA9", false},
      {1, "2024-03-01", true}, {1, "1709251200", false}, {2, "12:30", true}, {2, "45000", false},
  };
  for (const auto& c : cases) {
    std::vector<char> record(list.RecordBytes());
    EXPECT_NO_THROW(RecordBuilder(list, ByteOrder::kNative).SetText(record.data(), c.column, c.text)) << c.text;
    const std::string verdict =
        InputErrorOf([&] { RecordBuilder(list, ByteOrder::kNative, TextFit::kExact).SetText(record.data(), c.column, c.text); });
    EXPECT_EQ(verdict == "accepted", c.exactTakesIt) << c.text << ": " << verdict;
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
