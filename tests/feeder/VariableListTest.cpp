#include "feeder/VariableList.h"

#include <gtest/gtest.h>

#include "tests/feeder/InputErrorOf.h"

namespace drav {
namespace feed {
namespace {

struct FormatCase {
  const char* word;
  ValueKind kind;
  int stringWidth;
};

TEST(VariableListTest, FormatWordsGiveKindAndWidth) {
  const FormatCase cases[] = {
      {"F8.2", ValueKind::kNumber, 0},     {"f8.2", ValueKind::kNumber, 0},
      {"8F", ValueKind::kNumber, 0},       {"COMMA10.2", ValueKind::kNumber, 0},
      {"DOLLAR4.2", ValueKind::kNumber, 0}, {"E", ValueKind::kNumber, 0},
      {"N8", ValueKind::kNumber, 0},       {"PCT", ValueKind::kNumber, 0},
      {"CCA8.2", ValueKind::kNumber, 0},   {"WKDAY", ValueKind::kNumber, 0},
      {"MONTH", ValueKind::kNumber, 0},    {"F.2", ValueKind::kNumber, 0},
      {"F8.", ValueKind::kNumber, 0},      {"A20", ValueKind::kString, 20},
      {"a1", ValueKind::kString, 1},       {"A", ValueKind::kString, 255},
      {"20A", ValueKind::kString, 20},     {"A32767", ValueKind::kString, 32767},
      {"DATE", ValueKind::kDate, 0},       {"ADATE10", ValueKind::kDate, 0},
      {"EDATE", ValueKind::kDate, 0},      {"SDATE", ValueKind::kDate, 0},
      {"JDATE", ValueKind::kDate, 0},      {"QYR", ValueKind::kDate, 0},
      {"MOYR", ValueKind::kDate, 0},       {"WKYR", ValueKind::kDate, 0},
      {"DATETIME", ValueKind::kDate, 0},   {"datetime23.2", ValueKind::kDate, 0},
      {"YMDHMS12", ValueKind::kDate, 0},   {"TIME", ValueKind::kTime, 0},
      {"TIME11.2", ValueKind::kTime, 0},   {"DTIME", ValueKind::kTime, 0},
      {"MTIME5", ValueKind::kTime, 0},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.word);
    FeedVariable variable = ReadFormatWord("v", c.word);
    EXPECT_EQ(variable.kind, c.kind);
    EXPECT_EQ(variable.stringWidth, c.stringWidth);
  }
}

TEST(VariableListTest, RefusedListsAndFormatWordsNameTheProblem) {
  struct Refusal {
    const char* list;
    const char* message;
  };
  const Refusal refusals[] = {
      {"", "the variable list is empty"},
      {"   \n ", "the variable list is empty"},
      {"id F8 name", "variable name has no format"},
      {"id F8 ID A4", "variable ID is named twice"},
      {"id F8 name Q9", "variable name: format \"Q9\" has an unknown keyword"},
      {"v 8", "variable v: format \"8\" is not a format (width first allows no decimals)"},
      {"v 8.2F", "variable v: format \"8.2F\" is not a format (width first allows no decimals)"},
      {"v X8", "variable v: format \"X8\" has an unknown keyword"},
      {"v DATE-TIME", "variable v: format \"DATE-TIME\" has an unknown keyword"},
      {"v (F8.2)", "variable v: format \"(F8.2)\" has characters after its width"},
      {"v F8.2X", "variable v: format \"F8.2X\" has characters after its width"},
      {"v F8-2", "variable v: format \"F8-2\" has characters after its width"},
      {"v A32768", "variable v: format \"A32768\" is wider than 32767 bytes"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.list);
    EXPECT_EQ(InputErrorOf([&] { VariableList::Parse(r.list); }), r.message);
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
