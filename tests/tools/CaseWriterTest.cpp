// The output formats, fed with real case buffers laid out by the wire layout.
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

std::vector<Column> WeatherColumns() {
  return {Column{"station", PrintFormat{kFmtA, 6, 0}, 6},
          Column{"temp", PrintFormat{kFmtF, 6, 1}, 0},
          Column{"when", PrintFormat{kFmtDATE, 11, 0}, 0},
          Column{"amount", PrintFormat{kFmtCOMMA, 10, 2}, 0}};
}

std::string WriteTwoCases(OutputFormat format) {
  const std::vector<Column> columns = WeatherColumns();
  CaseBuffer buffer(columns);
  Captured out;
  auto writer = MakeCaseWriter(format, out.File(), columns);
  writer->WriteHeader();
  buffer.SetString(0, "KRV01");
  buffer.SetNumber(1, -3.26);
  buffer.SetNumber(2, 1796481015.25);
  buffer.SetNumber(3, 1234.5);
  writer->WriteCase(buffer.Values());
  buffer.SetString(0, "a\"b,c");
  buffer.SetNumber(1, kNaN);
  buffer.SetNumber(2, kNaN);
  buffer.SetNumber(3, 7);
  writer->WriteCase(buffer.Values());
  return out.Text();
}

TEST(CaseWriter, EachFormatQuotesEscapesAndAlignsItsOwnWay) {
  const struct {
    OutputFormat format;
    const char* expected;
  } cases[] = {
      {OutputFormat::kCsv, "station,temp,when,amount\nKRV01,-3.3,05-DEC-2026,\"1,234.50\"\n\"a\"\"b,c\",,,7.00\n"},
      {OutputFormat::kTsv, "station\ttemp\twhen\tamount\nKRV01\t-3.3\t05-DEC-2026\t1,234.50\na\"b,c\t\t\t7.00\n"},
      {OutputFormat::kJsonl,
       "{\"station\":\"KRV01\",\"temp\":-3.3,\"when\":\"05-DEC-2026\",\"amount\":1234.50}\n"
       "{\"station\":\"a\\\"b,c\",\"temp\":null,\"when\":null,\"amount\":7.00}\n"},
      {OutputFormat::kTable,
       "station    temp         when      amount\n"
       "-------  ------  -----------  ----------\n"
       "KRV01      -3.3  05-DEC-2026    1,234.50\n"
       "a\"b,c         .            .        7.00\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteTwoCases(c.format), c.expected);
}

TEST(CaseWriter, TableCutsLongStringsAtACharacterBoundary) {
  const std::vector<Column> columns = {Column{"s", PrintFormat{kFmtA, 40, 0}, 40}};
  CaseBuffer buffer(columns);
  Captured out;
  auto writer = MakeCaseWriter(OutputFormat::kTable, out.File(), columns);
  buffer.SetString(0, std::string(30, 'x') + "\xc3\xa9\xc3\xa9\xc3\xa9" + "yyyy");
  writer->WriteCase(buffer.Values());
  EXPECT_EQ(out.Text(), std::string(30, 'x') + "\xc3\xa9" + "\xE2\x80\xA6\n");
}

// Rows whose strings hold tabs, newlines, wide characters and combining
// marks stay one line each, and the column after them stays in line.
TEST(CaseWriter, TableEscapesControlsAndAlignsByDisplayColumns) {
  const std::vector<Column> columns = {Column{"s", PrintFormat{kFmtA, 60, 0}, 60},
                                       Column{"n", PrintFormat{kFmtF, 2, 0}, 0}};
  const char* const strings[] = {
      "a\tb",
      "line one\nline two",
      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",                   // 日本語
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
            "line one\\nline two                 7\n"
            "日本語                             7\n"
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

TEST(CaseWriter, MarkdownCellsKeepTheirRowTogether) {
  const std::vector<Column> columns = {Column{"s", PrintFormat{kFmtA, 8, 0}, 8}};
  CaseBuffer buffer(columns);
  Captured out;
  auto writer = MakeCaseWriter(OutputFormat::kMarkdown, out.File(), columns);
  buffer.SetString(0, "x|y\r\nz");
  writer->WriteCase(buffer.Values());
  EXPECT_EQ(out.Text(), "| x\\|y\\r\\nz |\n");
}

TEST(CaseWriter, RawCopiesTheChosenSlotsInTheirOrderAndHoldsThemUntilFlushed) {
  const std::vector<Column> columns = WeatherColumns();
  CaseBuffer buffer(columns);
  buffer.SetString(0, "KRV01");
  buffer.SetNumber(1, -3.25);
  buffer.SetNumber(2, kNaN);
  buffer.SetNumber(3, 1e6);
  // amount, station, temp: the last two lie side by side in the buffer.
  const std::vector<Column> chosen = {columns[3], columns[0], columns[1]};
  const CaseValues values = {buffer.Values()[3], buffer.Values()[0], buffer.Values()[1]};
  Captured out;
  auto writer = MakeCaseWriter(OutputFormat::kRaw, out.File(), chosen);
  writer->WriteCase(values);
  writer->WriteCase(values);
  EXPECT_EQ(out.Text(), "");
  writer->Flush();
  const std::string record = std::string(values[0], 8) + std::string(values[1], 8) + std::string(values[2], 8);
  EXPECT_EQ(out.Text(), record + record);
  EXPECT_EQ(record.substr(8, 8), "KRV01   ");
}

TEST(Dictionary, JsonGivesEachColumnItsOffsetWidthAndNumpyType) {
  const std::vector<Column> columns = {Column{"id", PrintFormat{kFmtF, 8, 0}, 0},
                                       Column{"na\"me", PrintFormat{kFmtA, 12, 0}, 12},
                                       Column{"t", PrintFormat{kFmtDATETIME, 20, 0}, 0}};
  const char* order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? "little" : "big";
  const char* number = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? "<f8" : ">f8";
  EXPECT_EQ(JsonDictionary(columns),
            std::string("{\"record_bytes\": 32, \"byte_order\": \"") + order + "\", \"columns\": [" +
                "{\"name\": \"id\", \"format\": \"F8\", \"offset\": 0, \"width\": 8, \"dtype\": \"" + number + "\"}, " +
                "{\"name\": \"na\\\"me\", \"format\": \"A12\", \"offset\": 8, \"width\": 16, \"dtype\": \"|S16\"}, " +
                "{\"name\": \"t\", \"format\": \"DATETIME20\", \"offset\": 24, \"width\": 8, \"dtype\": \"" + number +
                "\"}]}\n");
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

TEST(TextEscape, CsvAndTsvFields) {
  std::string out;
  AppendCsvField("two\nlines", out);
  EXPECT_EQ(out, "\"two\nlines\"");
  out.clear();
  AppendCsvField(" blank kept ", out);
  EXPECT_EQ(out, " blank kept ");
  out.clear();
  AppendTsvField("a\tb\\c\r\n", out);
  EXPECT_EQ(out, "a\\tb\\\\c\\r\\n");
}

TEST(Summary, WelfordStaysExactFarFromZero) {
  // Values around 1e9 with a spread of 1: a naive sum of squares loses it.
  RunningStats stats;
  const double values[] = {1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16};
  for (double v : values) stats.Add(v);
  stats.Add(kNaN);
  EXPECT_EQ(stats.Count(), 4);
  EXPECT_DOUBLE_EQ(stats.Mean(), 1e9 + 10);
  EXPECT_NEAR(stats.StandardDeviation(), std::sqrt(30.0), 1e-9);
  EXPECT_EQ(stats.Min(), 1e9 + 4);
  EXPECT_EQ(stats.Max(), 1e9 + 16);
}

// Finite values whose squares (or whose differences) overflow a double,
// values whose squares underflow, and constant columns: the standard
// deviation is the true one, never Inf or 0 by accident.
TEST(Summary, StandardDeviationOfFiniteValuesIsFiniteAtBothEndsOfTheRange) {
  const double kMax = std::numeric_limits<double>::max();
  const struct {
    std::vector<double> values;
    double mean;
    double sd;
  } cases[] = {
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
    EXPECT_DOUBLE_EQ(stats.StandardDeviation(), c.sd);
  }
}

// Only a spread beyond the largest double is infinite.
TEST(Summary, StandardDeviationBeyondTheLargestDoubleIsInfinite) {
  RunningStats stats;
  stats.Add(std::numeric_limits<double>::max());
  stats.Add(-std::numeric_limits<double>::max());
  EXPECT_EQ(stats.Mean(), 0.0);
  EXPECT_TRUE(std::isinf(stats.StandardDeviation()));
}

TEST(Summary, PrintsTheSpreadOfHugeValuesAndOfAConstantColumn) {
  const std::vector<Column> columns = {Column{"huge", PrintFormat{kFmtE, 10, 2}, 0},
                                       Column{"same", PrintFormat{kFmtF, 8, 2}, 0}};
  CaseBuffer buffer(columns);
  Summary summary(columns);
  for (double v : {1e300, 3e300}) {
    buffer.SetNumber(0, v);
    buffer.SetNumber(1, 42.0);
    summary.Add(buffer.Values());
  }
  Captured out;
  summary.Print(out.File());
  EXPECT_EQ(out.Text(),
            "variable  valid                                      mean                                        sd"
            "        min        max\n"
            "huge          2  2.000000000000000105009520510408840E+300  1.414213562373095169003966775948187E+300"
            "  1.00E+300  3.00E+300\n"
            "same          2                                   42.0000                                    0.0000"
            "      42.00      42.00\n");
}

TEST(Summary, CountsValidValuesAndPrintsOneRowPerVariable) {
  const std::vector<Column> columns = WeatherColumns();
  CaseBuffer buffer(columns);
  Summary summary(columns);
  const double temps[] = {1.0, 2.0, kNaN, 6.0};
  for (double t : temps) {
    buffer.SetString(0, std::isnan(t) ? "" : "KRV01");
    buffer.SetNumber(1, t);
    buffer.SetNumber(2, 86400.0 * (std::isnan(t) ? 0 : t));
    buffer.SetNumber(3, kNaN);
    summary.Add(buffer.Values());
  }
  EXPECT_EQ(summary.Filled(0), 3);
  EXPECT_EQ(summary.Numeric(1).Count(), 3);
  EXPECT_EQ(summary.Numeric(2).Count(), 4);
  EXPECT_EQ(summary.Numeric(3).Count(), 0);
  Captured out;
  summary.Print(out.File());
  EXPECT_EQ(out.Text(),
            "variable  valid         mean           sd          min          max\n"
            "station       3\n"
            "temp          3        3.000        2.646          1.0          6.0\n"
            "when          4  03-JAN-1970  02 15:07:08  01-JAN-1970  07-JAN-1970\n"
            "amount        0\n");
  summary.Clear();
  EXPECT_EQ(summary.Numeric(1).Count(), 0);
  EXPECT_EQ(summary.Filled(0), 0);
}

}  // namespace
}  // namespace dravrun
