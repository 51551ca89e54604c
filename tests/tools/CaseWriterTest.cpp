// The writers, fed with real case buffers laid out by the wire layout, where
// a fault hides from the end-to-end runs: table alignment by display
// columns, the missing-value text in every writer, JSON strings that are
// not UTF-8, and the summary's arithmetic at the ends of the double range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "host/DravFormat.h"
#include "host/WireFormat.h"
#include "tools/dravrun/CaseWriter.h"
#include "tools/dravrun/Dictionary.h"
#include "tools/dravrun/Summary.h"
#include "tools/dravrun/TextEscape.h"

namespace dravrun {
namespace {

// Cases built the way a feeder sends them: numbers as doubles, strings
// padded with blanks to their slots.
class CaseBuffer {
 public:
  explicit CaseBuffer(const std::vector<Column>& columns) {
    for (const Column& c : columns) layout_.Append(c.stringWidth);
    bytes_.assign(layout_.RecordBytes(), ' ');
    for (std::size_t i = 0; i < columns.size(); ++i) values_.push_back(bytes_.data() + layout_.ByteOffset(i));
  }
  void SetNumber(std::size_t column, double v) { std::memcpy(&bytes_[layout_.ByteOffset(column)], &v, 8); }
  void SetString(std::size_t column, const std::string& s) {
    const std::size_t width = static_cast<std::size_t>(layout_.StringWidth(column));
    std::memset(&bytes_[layout_.ByteOffset(column)], ' ', width);
    std::memcpy(&bytes_[layout_.ByteOffset(column)], s.data(), std::min(width, s.size()));
  }
  const CaseValues& Values() const { return values_; }

 private:
  drav::wire::CaseLayout layout_;
  std::string bytes_;
  CaseValues values_;
};

// Captures what a writer prints.
class Captured {
 public:
  Captured() : file_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  std::FILE* File() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Rows whose strings hold escapes, wide characters and combining marks,
// or are cut, keep the column after them in line. (What a cell shows is
// TableCellTest's.)
TEST(CaseWriter, TableAlignsByDisplayColumns) {
  const std::vector<Column> columns = {Column{"s", PrintFormat{kFmtA, 60, 0}, 60},
                                       Column{"n", PrintFormat{kFmtF, 2, 0}, 0}};
  const char* const strings[] = {
      "a\tb",
      "e\xcc\x81t\xc3\xa9",                                       // été, the first é combining
      "\xef\xbc\xa1\xef\xbc\xa2\xef\xbc\xa3 and ABC",           // fullwidth ＡＢＣ
      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5"
      "\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"
      "\xe6\x97\xa5\xe6\x9c\xac",  // 日本語 five times and 日本: 34 columns, cut to 31 and "…"
  };
  CaseBuffer buffer(columns);
  Captured out;
  auto writer = MakeCaseWriter(OutputFormat::kTable, out.File(), columns);
  writer->WriteHeader();
  for (const char* s : strings) {
    buffer.SetString(0, s);
    buffer.SetNumber(1, 7);
    writer->WriteCase(buffer.Values());
  }
  // As a terminal shows it (each CJK and fullwidth character two columns):
  EXPECT_EQ(out.Text(),
            "s                                  n\n"
            "--------------------------------  --\n"
            "a\\tb                               7\n"
            "e\xcc\x81té                                7\n"
            "ＡＢＣ and ABC                     7\n"
            "日本語日本語日本語日本語日本語…    7\n");
}

// Every writer that spells a missing value, with a text of the user's that
// needs quoting in CSV and is wider than the table's column.
TEST(CaseWriter, MissingTextIsEscapedAndWidensTheTable) {
  const std::vector<Column> columns = {Column{"s", PrintFormat{kFmtA, 4, 0}, 4},
                                       Column{"v", PrintFormat{kFmtF, 3, 0}, 0}};
  const struct {
    OutputFormat format;
    const char* expected;
  } cases[] = {
      {OutputFormat::kCsv, "s,v\na|b,\"n,a\"\n"},
      {OutputFormat::kTsv, "s\tv\na|b\tn,a\n"},
      {OutputFormat::kTable, "s       v\n----  ---\na|b   n,a\n"},
      {OutputFormat::kMarkdown, "| s | v |\n| --- | ---: |\n| a\\|b | n,a |\n"},
  };
  for (const auto& c : cases) {
    CaseBuffer buffer(columns);
    Captured out;
    auto writer = MakeCaseWriter(c.format, out.File(), columns, WriterSettings{std::string("n,a")});
    writer->WriteHeader();
    buffer.SetString(0, "a|b");
    buffer.SetNumber(1, kNaN);
    writer->WriteCase(buffer.Values());
    EXPECT_EQ(out.Text(), c.expected);
  }
}

TEST(TextEscape, JsonStringsAreAlwaysValidUtf8) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"tab\tnew\nline\\", "\"tab\\tnew\\nline\\\\\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"bad\xff", "\"bad\\ufffd\""},
      {"cut\xc3", "\"cut\\ufffd\""},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate is not UTF-8
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},              // nor an overlong form
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonString(c.in, out);
    EXPECT_EQ(out, c.out);
  }
}

// Values far from zero with a small spread (a naive sum of squares loses
// it), finite values whose squares or differences overflow a double, values
// whose squares underflow, and constant columns: the standard deviation is
// the true one, never Inf or 0 by accident; only a spread beyond the
// largest double is infinite. Missing values are not counted.
TEST(Summary, StandardDeviationOfFiniteValuesIsFiniteAtBothEndsOfTheRange) {
  const double kMax = std::numeric_limits<double>::max();
  const struct {
    std::vector<double> values;
    double mean;
    double sd;
  } cases[] = {
      {{1e9 + 4, 1e9 + 7, kNaN, 1e9 + 13, 1e9 + 16}, 1e9 + 10, std::sqrt(30.0)},
      {{kMax, -kMax}, 0.0, std::numeric_limits<double>::infinity()},
      {{1e300, 3e300}, 2e300, std::sqrt(2.0) * 1e300},
      {{1e300, 2e300, 3e300, 4e300}, 2.5e300, std::sqrt(5.0 / 3) * 1e300},
      {{-1e308, 1e308}, 0.0, std::sqrt(2.0) * 1e308},
      {{0.0, 1e-300, 2e-300}, 1e-300, 1e-300},
      {{0.0, 0.0, 5.0, 7.0}, 3.0, std::sqrt(38.0 / 3)},
      {{1e300, 1e300, 1e300}, 1e300, 0.0},
      {{kMax, kMax}, kMax, 0.0},
      {{-2.5, -2.5, -2.5}, -2.5, 0.0},
  };
  for (const auto& c : cases) {
    RunningStats stats;
    for (double v : c.values) stats.Add(v);
    SCOPED_TRACE(c.values.front());
    EXPECT_DOUBLE_EQ(stats.Mean(), c.mean);
    if (std::isinf(c.sd))
      EXPECT_TRUE(std::isinf(stats.StandardDeviation()));
    else
      EXPECT_NEAR(stats.StandardDeviation(), c.sd, c.sd * 1e-12);
  }
}

}  // namespace
}  // namespace dravrun
