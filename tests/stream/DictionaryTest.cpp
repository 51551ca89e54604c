// The host dictionary a source builds from the parsed variables: formats
// brought into the host's limits, unknown types replaced, string widths kept.
#include <gtest/gtest.h>

#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

struct FormatCase {
  const char* word;
  int type, width, decimals;
};

class DictionaryTest : public testing::Test {
 protected:
  // A source whose one variable is written with `word`, over an empty
  // regular file given as the data pipe.
  std::unique_ptr<DRAV_StreamDataSrc> SourceWith(const std::string& word) {
    return OpenSource(dir_.WriteFile("data", ""), nullptr, false, false, "v " + word);
  }
  Watchdog watchdog_{60, "dictionary test"};
  TempDir dir_;
};

TEST_F(DictionaryTest, FormatsAreNormalisedForTheHost) {
  const FormatCase cases[] = {
      {"F8.2", kFmtF, 8, 2},           {"DOLLAR8.2", kFmtDOLLAR, 8, 2},     {"DATE10", kFmtDATE, 9, 0},
      {"DATE20", kFmtDATE, 11, 0},     {"TIME12", kFmtTIME, 11, 2},         {"TIME8", kFmtTIME, 5, 0},
      {"DATETIME30", kFmtDATETIME, 23, 2}, {"DATETIME20", kFmtDATETIME, 17, 0}, {"ADATE12", kFmtADATE, 10, 0},
      {"JDATE5", kFmtJDATE, 5, 0},     {"WKDAY3", kFmtWKDAY, 9, 0},         {"MOYR6", kFmtMOYR, 6, 0},
      {"A12", kFmtA, 12, 0},           {"N5", kFmtF, 8, 2},                 {"PCT6.1", kFmtF, 8, 2},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.word);
    auto source = SourceWith(c.word);
    ASSERT_EQ(source->ColumnCount(), 1);
    DRAV_Variable* v = source->GetVariable(0);
    DRAV_Variable::FormatType type;
    int width = 0, decimals = 0;
    v->GetFormat(type, width, decimals);
    EXPECT_EQ(static_cast<int>(type), c.type);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(decimals, c.decimals);
    v->GetWriteFormat(type, width, decimals);
    EXPECT_EQ(width, c.width);
    EXPECT_STREQ(v->GetName(), "v");
    if (c.type != kFmtA) {
      EXPECT_GE(v->GetDisplayWidth(), c.width);
    }
    EXPECT_EQ(source->RowCount(), -1);
  }
}

TEST_F(DictionaryTest, RecordSizeFollowsTheVariables) {
  auto source = SourceWith("F8.2 s A10 t A8 b F3.0");
  EXPECT_EQ(source->GetObsAreaSize(), 1 + 2 + 1 + 1);
}

}  // namespace
}  // namespace test
}  // namespace drav
