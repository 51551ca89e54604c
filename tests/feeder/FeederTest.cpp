// The feeder library in the process: variable lists (the plug-in's verdict on tests/data) and inferred
// ones, records, generated cases, CSV; then growing sources: the case log, captures, live and paced input.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>
#include <streambuf>
#include <thread>

#include "dravfeed/CaseLog.h"
#include "dravfeed/CsvCases.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/GeneratedCases.h"
#include "dravfeed/LiveCsvInput.h"
#include "dravfeed/PacedCases.h"
#include "dravfeed/RecordBuilder.h"
#include "dravfeed/VariableList.h"
#include "feeder/records/Crc32c.h"
#include "feeder/records/DatePattern.h"
#include "feeder/records/PosixIo.h"
#include "feeder/sources/CsvReader.h"
#include "feeder/sources/VariableInference.h"
#include "tests/support/TempDir.h"
#include "tests/support/VariableListCorpus.h"
#include "tests/support/Watchdog.h"

namespace drav::feed {
namespace {

// The message of the InputError that `action` throws, or "accepted".
std::string InputErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const InputError& error) {
    return error.what();
  }
  return "accepted";
}

// The corpus's words for a variable (weekday and month numbers are plain numbers).
std::string KindName(const FeedVariable& v) {
  if (v.kind == ValueKind::kNumber) return v.type == 26 ? "weekday" : v.type == 27 ? "month" : "number";
  return v.kind == ValueKind::kString ? "string" : v.kind == ValueKind::kDate ? "date" : "time";
}

// A refusal is one message (no variables, no warnings): only the corpus's first field is compared.
std::string VerdictOf(const std::string& list) {
  try {
    const VariableList variables = VariableList::Parse(list);
    std::string verdict = std::to_string(variables.RecordBytes() / wire::kSlotBytes) + " slots";
    for (const std::string& warning : variables.Warnings())
      verdict += "\twarning " + test::MessageVerdict(warning, true);
    for (std::size_t i = 0; i < variables.size(); ++i) {
      const FeedVariable& v = variables[i];
      EXPECT_EQ(v.stringWidth, v.kind == ValueKind::kString ? v.width : 0) << v.name;
      verdict += test::VariableField(v.name, v.type, v.width, v.decimals, KindName(v), variables.Layout().FirstSlot(i));
    }
    return verdict;
  } catch (const VariableListError& error) {
    const std::string verdict = test::MessageVerdict(error.what(), false);
    EXPECT_EQ(verdict.substr(0, 4), std::to_string(error.MessageId()));
    return "refused " + verdict;
  } catch (const InputError& error) {
    return error.what();
  }
}

TEST(VariableListTest, GivesThePluginsVerdictOnEveryListOfTheCorpus) {
  for (const test::ListCase& c : test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    // The plug-in accepts a list of nothing; a feeder has nothing to serve.
    const std::string expected = c.verdict == "0 slots" ? "the variable list is empty"
                                 : c.verdict.rfind("refused ", 0) == 0 ? c.verdict.substr(0, c.verdict.find('\t'))
                                                                       : c.verdict;
    EXPECT_EQ(VerdictOf(c.list), expected) << "line " << c.line << ": " << c.list;
  }
}

// The edges of each kind (python/tests/test_roundtrip.py matches the Python package's proposals).
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

TEST(RecordBuilderTest, StringsArePaddedToTheirSlotsOrCutAtACharacter) {
  VariableList list = VariableList::Parse("s A5 n F8");
  RecordBuilder builder(list, ByteOrder::kNative);
  const struct {
    const char* text;
    const char* stored;  // 8 bytes: the variable's whole slot
  } cases[] = {
      {"", "        "},
      {"ab", "ab      "},
      {"abcde", "abcde   "},
      {"abcdefgh", "abcde   "},
      {"abc\xC3\xA9x", "abc\xC3\xA9   "},  // é fits in bytes 4 and 5
      {"abcd\xC3\xA9", "abcd    "},          // é would straddle the width
      {" lead", " lead   "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> record(list.RecordBytes(), 'x');
    builder.SetText(record.data(), 0, c.text);
    EXPECT_EQ(std::string(record.data() + list.Layout().ByteOffset(0), 8), c.stored);
  }
}

// Numbers as C decimals, dates and times as ISO 8601 text (or seconds); blank text is missing (NaN).
TEST(RecordBuilderTest, TextBecomesTheNumberOfItsKindOrIsRefused) {
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
    double stored;
    std::memcpy(&stored, record.data() + list.Layout().ByteOffset(c.column), 8);
    // Within a billionth of a second: the digits of a fraction are summed.
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(stored) : std::fabs(stored - c.value) < 1e-9)
        << c.text << " gave " << stored;
  }
  const struct {
    std::size_t column;
    const char* text;
  } refused[] = {
      {0, "abc"}, {0, "1,5"}, {0, "1.2.3"}, {0, "inf"}, {0, "nan"}, {0, "0x10"}, {0, "1e999"}, {0, "12abc"},
      {0, "--1"}, {0, "."}, {1, "2023-02-29"}, {1, "2024-13-01"}, {1, "2024-00-10"}, {1, "2024-04-31"},
      {1, "2024-3-1"}, {1, "2024/03/01"}, {1, "2024-03-01T24:00"}, {1, "2024-03-01T12:60"},
      {1, "2024-03-01T12:30:60"}, {1, "2024-03-01T12:30:00+01:00"}, {1, "2024-03-01X"}, {1, "yesterday"},
      {2, ":30"}, {2, "12:3"}, {2, "12:30:5"}, {2, "12:60"}, {2, "12:30:60"}, {2, "ab:cd"}, {2, "12:30:00."},
      {2, "1:00 pm"},
  };
  for (const auto& c : refused) {
    std::vector<char> record(list.RecordBytes());
    EXPECT_THROW(builder.SetText(record.data(), c.column, c.text), InputError) << c.text;
  }
}

// An inferred list adapts nothing later: what its sample would not let through is refused, not cut.
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
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(value) : value == c.value)
        << value << " in column " << c.column << ", case " << c.i;
  }
}

// The records built one value at a time with the builder, from the rule as NumberAt states it.
std::vector<char> OneValueAtATime(const RecordBuilder& builder, std::int64_t first, std::int64_t count) {
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

// Runs carry the missing-value and day cycles from any first case, in both byte orders, for any list.
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

using Records = std::vector<std::vector<std::string>>;

// Hands out `chunk` bytes at a time and keeps none it handed out: a reader that puts bytes back fails.
class ChunkedBuf : public std::streambuf {
 public:
  ChunkedBuf(std::string text, std::size_t chunk) : text_(std::move(text)), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (pos_ >= text_.size()) return traits_type::eof();
    std::size_t n = std::min(chunk_, text_.size() - pos_);
    std::memcpy(window_, text_.data() + pos_, n);
    pos_ += n;
    setg(window_, window_, window_ + n);
    return traits_type::to_int_type(window_[0]);
  }

 private:
  std::string text_;
  std::size_t chunk_, pos_ = 0;
  char window_[64];
};

CsvOptions With(char delimiter, char comment = '\0', long skipLines = 0) {
  CsvOptions options;
  options.delimiter = delimiter;
  options.comment = comment;
  options.skipLines = skipLines;
  return options;
}

Records ReadAll(const std::string& text, std::size_t chunk, const CsvOptions& options = CsvOptions()) {
  ChunkedBuf buffer(text, chunk);
  std::istream in(&buffer);
  CsvReader reader(in, options);
  Records records;
  std::vector<std::string> fields;
  while (reader.Next(fields)) records.push_back(fields);
  return records;
}

TEST(CsvReaderTest, ReadsRfc4180RecordsInAnyChunkingAndNamesTheLineAndColumnOfAMisplacedQuote) {
  const struct {
    const char* name;
    std::string text;
    Records records;
    CsvOptions options = CsvOptions();
    const char* refused = nullptr;
  } cases[] = {
      {"plain", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}},
      {"crlf", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
      {"no final line end", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
      {"empty fields", ",\n,x,\n", {{"", ""}, {"", "x", ""}}},
      {"quoted comma", "\"a,b\",c\n", {{"a,b", "c"}}},
      {"doubled quote", "\"say \"\"hi\"\"\",x\n", {{"say \"hi\"", "x"}}},
      {"only a doubled quote", "\"\"\"\"\n", {{"\""}}},
      {"quoted empty", "\"\",x\n", {{"", "x"}}},
      {"embedded LF", "\"two\nlines\",x\n", {{"two\nlines", "x"}}},
      {"embedded CRLF", "\"two\r\nlines\",x\r\n", {{"two\r\nlines", "x"}}},
      {"lone CR is data", "a\rb,c\n", {{"a\rb", "c"}}},
      {"CR before end of input", "a,b\r", {{"a", "b\r"}}},
      {"empty lines skipped", "\n\r\na\n\n\nb\n", {{"a"}, {"b"}}},
      {"byte-order mark", "\xEF\xBB\xBFid,x\n", {{"id", "x"}}},
      {"almost a mark", "\xEF\xBBz\n", {{"\xEF\xBBz"}}},
      {"blanks kept", " a , b \n", {{" a ", " b "}}},
      {"quoted then CRLF at end", "\"x\"\r\n", {{"x"}}},
      {"nothing", "", {}},
      {"semicolons", "a;b,c\n\"x;y\";\n", {{"a", "b,c"}, {"x;y", ""}}, With(';')},
      {"tabs", "a b\t\"c\td\"\n", {{"a b", "c\td"}}, With('\t')},
      {"comment lines", "#x,\"y\n#\r\na\n# b\n#", {{"a"}}, With(',', '#')},
      {"a comment mark within a record is data", "a,#b\n\"x\n#y\"\n", {{"a", "#b"}, {"x\n#y"}}, With(',', '#')},
      {"preamble of any bytes", "title \"q\n\nby,x\na\n", {{"a"}}, With(',', '\0', 3)},
      {"preamble longer than the input", "a\nb", {}, With(',', '\0', 5)},
      {"byte-order mark before the preamble", "\xEF\xBB\xBFnote\na\n", {{"a"}}, With(',', '\0', 1)},
      {"after a quoted field", "skipped\n#\n\"x\"y\n", {}, With(',', '#', 1),
       "line 3, column 1: unexpected character after the closing quote of a field"},
      {"within a plain field", "a,b\n1,2\"x\n", {}, CsvOptions(),
       "line 2, column 2: a quote inside a field that does not start with one"},
      {"within a field", "a,\"b\"c\n", {}, CsvOptions(),
       "line 1, column 2: unexpected character after the closing quote of a field"},
      {"never closed", "a\n\"b\nc\n", {}, CsvOptions(), "line 2, column 1: a quoted field is never closed"},
      {"after a field of two lines", "\"x\ny\"z,1\n", {}, CsvOptions(),
       "line 2, column 1: unexpected character after the closing quote of a field"},
      {"a quote as the delimiter", "a\n", {}, With('"'), "the delimiter cannot be a quote, a line end or NUL"},
      {"the delimiter as the comment mark", "a\n", {}, With(';', ';'),
       "the comment character cannot be the delimiter, a quote or a line end"},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {1, 2, 3, 64}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      if (c.refused)
        EXPECT_EQ(InputErrorOf([&] { ReadAll(c.text, chunk, c.options); }), c.refused);
      else
        EXPECT_EQ(ReadAll(c.text, chunk, c.options), c.records);
    }
  }
}

CsvOptions Header(CsvOptions options = CsvOptions()) {
  options.header = true;
  return options;
}

CsvOptions Nulls(CsvOptions options, std::vector<std::string> texts) {
  options.nullTexts = std::move(texts);
  return options;
}

CsvOptions Dates(const char* pattern, CsvOptions options = CsvOptions()) {
  options.datePattern = pattern;
  return options;
}

std::string Rendered(CaseSource& source, std::int64_t first, std::int64_t count) {
  std::string bytes(static_cast<std::size_t>(count) * source.RecordBytes(), '\0');
  source.Render(first, count, &bytes[0]);
  return bytes;
}

// In chunks of 3 bytes.
std::string CaseRecords(const std::string& text, const char* variables, const CsvOptions& options) {
  VariableList list = VariableList::Parse(variables);
  RecordBuilder builder(list, ByteOrder::kNative);
  ChunkedBuf buffer(text, 3);
  std::istream in(&buffer);
  MemoryCases cases = LoadCsvCases(in, builder, options);
  return Rendered(cases, 0, cases.CaseCount());
}

// The files people have (preamble, comments, NULL and NA, tabs, locale dates, extra columns in their own
// order) give the cases of the plain CSV text beside them.
TEST(CsvCasesTest, ReadsFilesAsTheyAreWritten) {
  const struct {
    const char* name;
    const char* variables;
    CsvOptions options;
    std::string text;
    const char* plain;
  } files[] = {
      {"psql export", "id F4 name A6 score F5.1 seen DATE11", Nulls(Header(), {"NULL", "NA"}),
       "id,name,score,seen\n1,ann,NULL,2024-03-01\n2,NULL,7.5, NULL \n3,\"NULL\",NA,\n",
       "1,ann,,2024-03-01\n2,,7.5,\n3,NULL,,\n"},
      {"tabs", "city A10 pop F9", Header(With('\t')), "city\tpop\nSan Jos\xC3\xA9\t1013240\n\"Washington, D.C.\"\t689545\n",
       "San Jos\xC3\xA9,1013240\nWashington,689545\n"},
      {"preamble and comments", "t DATETIME20 temp F5.1", Header(With(',', '#', 2)),
       "Sensor export\nStation 4, \"north\n# units: C\nt,temp\n2026-12-07T10:00:00,3.5\n# recalibrated\n"
       "2026-12-07 11:00,-1\n", "2026-12-07T10:00:00,3.5\n2026-12-07T11:00:00,-1\n"},
      {"day-month-year", "day DATE11 n F4", Dates("%d-%b-%y"), "07-Dec-26,1\n29-feb-24,2\n01-JAN-70,3\n 5-Sep-68 ,\n,5\n",
       "2026-12-07,1\n2024-02-29,2\n1970-01-01,3\n2068-09-05,\n,5\n"},
      {"twelve-hour clock", "at DATETIME20", Dates("%m/%d/%Y %I:%M %p"), "12/07/2026 12:05 AM\n12/7/2026 1:30  pm\n",
       "2026-12-07T00:05\n2026-12-07T13:30\n"},
      {"other columns, other order", "volume_90d F12 adj_close F8.2 DATE DATE11", Header(),
       "Date,Open,Adj Close,Volume 90d\n2024-01-02,187.15,185.4,82488700\n", "82488700,185.4,2024-01-02\n"},
      {"trailing columns left out", "version F4.1 codename A8", Header(),
       "version,codename,release,eol\n12,Bookworm,2023-06-10,\n,Sid\n", "12,Bookworm\n,Sid\n"},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(CaseRecords(f.text, f.variables, f.options), CaseRecords(f.plain, f.variables, CsvOptions()));
  }
}

TEST(CsvCasesTest, NamesTheLineColumnAndVariableOfABadValue) {
  const std::string longLine = "1,a,2024-03-01\n" + std::string(2 << 20, '9') + "\n";
  // A message quotes at most 60 bytes of a field, whole characters only.
  std::string e29, wide = "1";
  for (int i = 0; i < 70; ++i) (i < 29 ? e29 : wide) += "\xC3\xA9";
  wide += e29;
  const std::string kUnread = ", more than the variables can need (the rest of the line is not read)";
  const char kControls[] = "\"1\0\x1b[2J\r\n\\\"\"\",a,\n";
  const struct {
    std::string text;
    std::string message;
    CsvOptions options = CsvOptions();
  } bad[] = {
      {"1,a,2024-03-01\n2,b,2024-02-30\n", "line 2, column 3 (day): \"2024-02-30\" is not a day of the calendar"},
      {"1,\"a\nb\",x\n", "line 2, column 3 (day): \"x\" is not a date (YYYY-MM-DD)"},
      {"one,a,\n", "line 1, column 1 (id): \"one\" is not a number"},
      {"1,a,2024-03-01T12:30:00+01:00\n", "line 1, column 3 (day): \"2024-03-01T12:30:00+01:00\" has a time zone "
                                         "offset; write the time as it should be stored"},
      {"1\n", "line 1: 1 field, but 3 variables"},
      {"1,a,,9\n", "line 1: 4 fields, but 3 variables"},
      {std::string(kControls, sizeof kControls - 1),
       "line 1, column 1 (id): \"1\\x00\\x1B[2J\\r\\n\\\\\\\"\" is not a number"},
      {wide + ",a,\n", "line 1, column 1 (id): \"1" + e29 + "\"... (141 bytes) is not a number"},
      {"x\n#\n" + longLine, "line 4: the line is longer than 1048576 bytes" + kUnread, With(',', '#', 1)},
      {std::string(100, ',') + "\n", "line 1: more than 67 fields" + kUnread},
      {"\"NA\",a,\n", "line 1, column 1 (id): \"NA\" is not a number", Nulls(CsvOptions(), {"NA"})},
      {"1,a,2024-03-01\n", "line 1, column 3 (day): \"2024-03-01\" does not match the date pattern %d-%b-%y",
       Dates("%d-%b-%y")},
      {"1,a,31-Feb-24\n", "line 1, column 3 (day): \"31-Feb-24\" is not a day of the calendar", Dates("%d-%b-%y")},
      {"id,nom,day\n", "line 1: the header has no column for variable name", Header()},
      {"ID,name,Day,day\n", "line 1: variable day matches both column 3 (\"Day\") and column 4 (\"day\") of the header",
       Header()},
      {"day,id,name,x\n2024-03-01,1\n", "line 2: 2 fields, but variable name is column 3 of the header", Header()},
      {"id,name,day\n1,a,,\n", "line 2: 4 fields, but the header names 3 columns", Header()},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.text.substr(0, 80));
    EXPECT_EQ(InputErrorOf([&] { CaseRecords(b.text, "id F8 name A4 day DATE", b.options); }), b.message);
  }
}

// A live input can end mid-line (its writer killed): the reader says so, and where the case began.
TEST(CsvCasesTest, TheReaderSaysWhereEachCaseBeganAndWhetherTheEndCutIt) {
  VariableList list = VariableList::Parse("a A8");
  RecordBuilder builder(list, ByteOrder::kNative);
  std::istringstream in("x\n\n\"two\nlines\"\nlast");
  CsvCaseReader reader(in, builder, CsvOptions());
  std::string record(list.RecordBytes(), '\0');
  for (const auto& [line, cut] : std::vector<std::pair<long, bool>>{{1, false}, {3, false}, {5, true}}) {
    ASSERT_TRUE(reader.Next(record.data()));
    EXPECT_EQ(reader.Line(), line);
    EXPECT_EQ(reader.CutByEnd(), cut);
  }
  EXPECT_FALSE(reader.Next(record.data()));
}

TEST(DatePatternTest, ReadsEveryDirectiveAndRefusesWhatDoesNotMatch) {
  const struct {
    const char* pattern;
    const char* text;
    double seconds;  // NaN: refused
  } cases[] = {
      {"%F %T.%f", "2024-03-01 12:30:05.25", 1709296205.25},
      {"%d %B %Y", "1 march 2024", 1709251200},
      {"%Y%m%d", "20240301", 1709251200},
      {"%y-%m-%d", "69-01-01", -365 * 86400.0},
      {"%e.%h.%Y %H%%", "1.Mar.2024 12%", 1709294400},
      {"%S %M %I %p %m/%d/%Y", "05 30 01 Pm 03/01/2024", 1709299805},
      {"%Y %I %p", "2024 12 noon", NAN},
      {"%d-%b-%y", "1-Sept-24", NAN},
      {"%d-%b-%y", "01-Mar-2024", NAN},
      {"%Y-%m-%d", "2024-13-01", NAN},
      {"%I:%M %p %Y", "13:00 AM 2024", NAN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + c.text);
    const DatePattern pattern(c.pattern);
    if (std::isnan(c.seconds))
      EXPECT_EQ(InputErrorOf([&] { pattern.Seconds(c.text); }),
                "\"" + std::string(c.text) + "\" does not match the date pattern " + c.pattern);
    else
      EXPECT_EQ(pattern.Seconds(c.text), c.seconds);
  }
}

// A runaway line is refused once past what the variables can need, never held whole: 64 MB leave the peak.
TEST(CsvCasesTest, ALineLongerThanTheVariablesCanNeedIsRefusedUnread) {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";  // the peak resident size starts again from now
  clear.close();
  if (!clear) GTEST_SKIP() << "cannot reset the peak resident size";
  auto kilobytes = [](const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1L;
  };
  const long before = kilobytes("VmRSS:");
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  std::thread writer([&] {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // the reader leaves early: EPIPE
    const std::string chunk(1 << 16, 'a');
    bool open = write(ends[1], "1,x\n2,", 6) == 6;
    for (int i = 0; open && i < 1024; ++i) open = write(ends[1], chunk.data(), chunk.size()) > 0;
    close(ends[1]);
  });
  VariableList list = VariableList::Parse("n F8 s A8");
  RecordBuilder builder(list, ByteOrder::kNative);
  CaseLog log(list.RecordBytes(), 1 << 20);
  EXPECT_EQ(InputErrorOf([&] { ReadLiveCsv(ends[0], builder, log, LiveInputOptions()); }),
            "line 2: the line is longer than 1048576 bytes, more than the variables can need (the rest of the line "
            "is not read)");
  close(ends[0]);
  writer.join();
  EXPECT_EQ(log.CaseCount(), 1);
  EXPECT_LT(kilobytes("VmHWM:") - before, 16 << 10) << "kB more at the peak";
}

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"

class CaseLogTest : public ::testing::Test {
 protected:
  // Spill files go where the test can look for them; a write past the size limit fails, not kills.
  CaseLogTest() { setenv("TMPDIR", tmp_.Path().c_str(), 1); signal(SIGXFSZ, SIG_IGN); }
  ~CaseLogTest() override { unsetenv("TMPDIR"); signal(SIGXFSZ, SIG_DFL); }
  std::string Expected(std::int64_t first, std::int64_t count) { return Rendered(generated_, first, count); }

  test::Watchdog watchdog_{60, "a case log test"};
  test::TempDir tmp_;
  VariableList list_ = VariableList::Parse("x F8 s A3");
  RecordBuilder builder_{list_, ByteOrder::kNative};
  GeneratedCases generated_{builder_, 10000};
};

template <class Resource, class Body>
void WithLimit(Resource resource, rlim_t bytes, Body body) {
  rlimit saved{};
  getrlimit(resource, &saved);
  rlimit limit = saved;
  limit.rlim_cur = bytes;
  setrlimit(resource, &limit);
  body();
  setrlimit(resource, &saved);
}

TEST_F(CaseLogTest, RendersEveryRunExactlyAcrossTheSpillBoundaryAndLeavesNoFile) {
  for (std::size_t capRecords : {0u, 1u, 7u, 100u, 5000u}) {
    SCOPED_TRACE(capRecords);
    CaseLog log(kRecordBytes, capRecords * kRecordBytes);
    // Batches of odd sizes, so the cap falls inside one.
    for (std::int64_t first = 0, size = 1; first < 1000; first += size, size = size * 3 % 97 + 1) {
      log.AddRendered(generated_, first, std::min<std::int64_t>(size, 1000 - first));
      log.Publish();
    }
    ASSERT_EQ(log.CaseCount(), 1000);
    for (auto run : {std::pair<int, int>{0, 1000}, {0, 1}, {6, 3}, {99, 2}, {500, 500}, {999, 1}})
      EXPECT_EQ(Rendered(log, run.first, run.second), Expected(run.first, run.second)) << run.first;
    EXPECT_EQ(log.SpilledBytes() == 0, capRecords >= 1000);
    // Unnamed from the start: a SIGKILL leaves nothing behind.
    EXPECT_EQ(tmp_.Entries(), std::vector<std::string>()) << "the spill file has a name";
  }
}

// A feeder under a ulimit -v sized for its --memory goes on when its cases reach the cap
// (36 MiB filled 16,000 bytes at a time, which a vector left to grow would take to 66 MB).
TEST_F(CaseLogTest, TheMemoryCapHoldsForTheAddressSpaceToo) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's shadow memory takes no address space limit";
#endif
  mallopt(M_MMAP_THRESHOLD, 1 << 20);  // every large block mapped alone and returned when freed
  CaseLog log(kRecordBytes, 36u << 20);
  rlim_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  WithLimit(RLIMIT_AS, pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (85u << 20), [&] {
    while (log.SpilledBytes() == 0) {
      log.AddRendered(generated_, 0, 1000);
      ASSERT_NO_THROW(log.Publish()) << log.CaseCount() << " cases in memory";
    }
  });
}

// A file created without a mode gets what the stack held: unreadable to its owner, or to all.
TEST_F(CaseLogTest, CapturesAndSpillFilesArePrivateWhateverTheUmask) {
  for (mode_t mask : {00, 022}) {
    const mode_t before = umask(mask);
    const std::string path = tmp_.File("umask" + std::to_string(mask) + ".cap");
    CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
    CaseLog log(kRecordBytes, 0);
    log.AddRendered(generated_, 0, 10);
    log.Publish();
    umask(before);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "capture, umask " << mask;
    // The spill file has no name: find it among our descriptors.
    int spillFiles = 0;
    for (const std::string& fd : test::TempDir::EntriesOf("/proc/self/fd")) {
      char target[4096] = {};
      if (readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1) <= 0) continue;
      if (std::string(target).rfind(tmp_.Path(), 0) != 0 || std::string(target) == path) continue;
      ASSERT_EQ(fstat(std::stoi(fd), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u) << "spill file, umask " << mask;
      ++spillFiles;
    }
    EXPECT_EQ(spillFiles, 1);
  }
}

// A disk that fills (here the size limit): the capture holds exactly the cases served, and reads as cut.
TEST_F(CaseLogTest, AFullDiskNeverPutsABatchInTheCaptureTwice) {
  struct Row {
    bool spillFills;
    std::int64_t batch;  // cases: the capture's batches take two blocks, and the second fails
    rlim_t limitBytes;
  };
  for (Row row : {Row{true, 97, 40000}, Row{false, 5000, 150000}}) {
    SCOPED_TRACE(row.spillFills ? "the spill file fills" : "the capture fills");
    // For the spill file to fill, the capture goes through a pipe, which the limit misses.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    std::string piped;
    std::thread drain([&] {
      char buffer[4096];
      for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) piped.append(buffer, static_cast<std::size_t>(n));
    });
    const std::string path = row.spillFills ? "/proc/self/fd/" + std::to_string(ends[1]) : tmp_.File("full.cap");
    CaseLog log(kRecordBytes, (row.spillFills ? 10 : 100000) * kRecordBytes);
    bool failed = false;
    {
      CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
      log.CopyTo(&capture);
      WithLimit(RLIMIT_FSIZE, row.limitBytes, [&] {
        try {
          for (std::int64_t first = 0; first < 10000; first += row.batch) {
            log.AddRendered(generated_, first, std::min<std::int64_t>(row.batch, 10000 - first));
            log.Publish();
          }
        } catch (const FeederError&) {
          failed = true;
          EndBroken(log);
        }
      });
      log.AddRendered(generated_, 0, 1);
      EXPECT_THROW(log.Publish(), FeederError) << "a broken log took a later batch";
    }
    close(ends[1]);
    drain.join();
    close(ends[0]);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(log.Broken());
    EXPECT_FALSE(log.MoreMayCome());
    pollfd change{log.ChangeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&change, 1, 0), 1) << "servers were not woken";
    CapturedCases captured(row.spillFills ? tmp_.WriteFile("spill.cap", piped) : path);
    EXPECT_GE(captured.CutAt(), 0);
    EXPECT_GT(log.CaseCount(), 0);
    ASSERT_EQ(captured.CaseCount(), log.CaseCount());
    EXPECT_EQ(Rendered(captured, 0, captured.CaseCount()), Expected(0, captured.CaseCount()));
  }
}

// The end block is the capture's last write; failing, it breaks the log, so a socket pass ends at a reset.
TEST_F(CaseLogTest, AnEndBlockThatCannotBeWrittenBreaksTheLog) {
  const std::string path = tmp_.File("end.cap");
  CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
  CaseLog log(kRecordBytes);
  log.CopyTo(&capture);
  log.AddRendered(generated_, 0, 10);
  log.Publish();
  WithLimit(RLIMIT_FSIZE, std::filesystem::file_size(path), [&] { EXPECT_THROW(log.EndInput(), FeederError); });
  EXPECT_TRUE(log.Broken());
  EXPECT_FALSE(log.MoreMayCome());
}

// 500 captures cut at a random byte or with a bit flipped: each is refused, or serves the
// whole blocks before its cut and says where. None passes for whole, none serves a wrong case.
TEST_F(CaseLogTest, ACutOrDamagedCaptureNeverServesAWrongCase) {
  EXPECT_EQ(Crc32c("123456789", 9), 0xE3069283u);  // the checksum the format names
  const std::string path = tmp_.File("whole.cap");
  std::vector<std::int64_t> blockEnds, casesBefore;  // where each records block ends; the cases up to it
  {
    CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
    std::int64_t at = 8 + 9 + 5 + 9, cases = 0;  // the magic and the header block
    for (std::int64_t size = 1; cases < 3000; size = size * 7 % 701 + 1) {
      capture.Add(Expected(cases, size).data(), static_cast<std::size_t>(size) * kRecordBytes);
      cases += size;
      blockEnds.push_back(at += 9 + size * static_cast<std::int64_t>(kRecordBytes));
      casesBefore.push_back(cases);
    }
    capture.End();
  }
  const std::string whole = test::TempDir::Read(path);
  std::mt19937 random(11);
  int refused = 0, servedCut = 0;
  for (int variant = 0; variant < 500; ++variant) {
    std::string bytes = whole;
    const std::size_t at = random() % bytes.size();
    const bool cut = variant % 2 == 0;
    if (cut)
      bytes.resize(at);
    else
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << random() % 8));
    SCOPED_TRACE((cut ? "cut at " : "bit flipped at ") + std::to_string(at));
    try {
      CapturedCases captured(tmp_.WriteFile("variant.cap", bytes));
      ++servedCut;
      EXPECT_GE(captured.CutAt(), 0) << "passes for whole";
      EXPECT_EQ(Rendered(captured, 0, captured.CaseCount()), Expected(0, captured.CaseCount()));
      if (!cut) continue;
      const auto after = std::upper_bound(blockEnds.begin(), blockEnds.end(), static_cast<std::int64_t>(at));
      EXPECT_EQ(captured.CaseCount(), after == blockEnds.begin() ? 0 : casesBefore[after - blockEnds.begin() - 1]);
    } catch (const InputError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(servedCut, 0);
}

// The example drawn in docs/PROTOCOL.md: one case (x = 1, s = "ab") of "x F8 s A3", little-endian.
TEST_F(CaseLogTest, ACaptureHasTheDrawnBytesAndABlockOfAnUnknownTypeIsCorrupt) {
  const char kDrawn[] =
      "DRAVCAP2"
      "\x36\xDD\x88\x88\x0E\0\0\0\x01\x10\0\0\0Lx F8 s A3"
      "\x32\x73\xC4\xAB\x10\0\0\0\x02\0\0\0\0\0\0\xF0\x3F" "ab      "
      "\x33\x61\xB5\x6F\x08\0\0\0\x03\x01\0\0\0\0\0\0\0";
  const std::string drawn(kDrawn, sizeof kDrawn - 1);
  const std::string path = tmp_.File("drawn.cap");
  const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  {
    CaptureWriter capture(path, "x F8 s A3", little ? ByteOrder::kNative : ByteOrder::kSwapped);
    capture.Add(drawn.data() + 40, kRecordBytes);
    capture.End();
  }
  EXPECT_EQ(test::TempDir::Read(path), drawn);
  // A block of type 7 before the end block, of any length, is refused, never read as an end.
  for (std::string payload : {"", "\x01"}) {
    std::string block(9, '\0');
    block[4] = static_cast<char>(payload.size());
    block[8] = 7;
    block += payload;
    const std::uint32_t crc = Crc32c(payload.data(), payload.size(), Crc32c(&block[4], 5));
    for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(crc >> (8 * i));
    const std::string error =
        InputErrorOf([&] { CapturedCases(tmp_.WriteFile("typed.cap", std::string(drawn).insert(56, block))); });
    EXPECT_NE(error.find("byte 56 is corrupt (its type or length cannot be)"), std::string::npos) << error;
  }
}

// errno may hold a stale EINTR: a write that worked is not taken for an interrupted one (sent again).
TEST(PosixIoTest, WriteAllIsNotMisledByAStaleEintr) {
  test::Watchdog watchdog(10, "a write after a stale EINTR");  // a write repeated for ever fills the pipe
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  errno = EINTR;
  EXPECT_EQ(posix::WriteAll(ends[1], "abc", 3).value, 3);
  char got[8] = {};
  EXPECT_EQ(read(ends[0], got, sizeof got), 3);
  close(ends[0]);
  close(ends[1]);
}

// Garbage where the next call's locals go: a signal set used uncleared then holds every signal.
__attribute__((noinline)) void Scribble() {
  volatile char junk[4096];
  for (volatile char& c : junk) c = '\xff';
}

// A write to a pipe its reader left takes back its own SIGPIPE, and no other signal waiting.
TEST(PosixIoTest, AWriteToAPipeWithoutReaderTakesBackOnlyItsOwnSigpipe) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
  pthread_kill(pthread_self(), SIGUSR1);
  Scribble();
  EXPECT_EQ(posix::WriteNoSignal(ends[1], "x", 1).error, EPIPE);
  const timespec now{};
  EXPECT_EQ(sigtimedwait(&usr1, nullptr, &now), SIGUSR1);
  pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
  close(ends[1]);
}

TEST_F(CaseLogTest, PacedCasesArriveInOrderAndEndTheInput) {
  CaseLog paced(kRecordBytes, 0);
  EXPECT_EQ(FeedPaced(generated_, 0, paced), 10000);
  EXPECT_FALSE(paced.MoreMayCome());
  EXPECT_EQ(Rendered(paced, 0, 10000), Expected(0, 10000));
}

// Written into a real pipe in pieces of `piece` bytes (0: random sizes).
TEST_F(CaseLogTest, LiveCsvGivesTheSameCasesHoweverTheInputIsCut) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",\"c" + std::to_string(i) + "\"\r\n";
  for (std::size_t piece : {1u, 2u, 17u, 4096u, 0u}) {
    SCOPED_TRACE(piece);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    std::thread writer([&] {
      std::mt19937 random(7);
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min(piece ? piece : 1 + random() % 300, text.size() - at);
        at += static_cast<std::size_t>(std::max<ssize_t>(write(ends[1], text.data() + at, n), 0));
      }
      close(ends[1]);
    });
    CaseLog log(kRecordBytes, 64 * kRecordBytes);
    EXPECT_EQ(ReadLiveCsv(ends[0], builder_, log, LiveInputOptions()).cases, 300);
    writer.join();
    close(ends[0]);
    EXPECT_FALSE(log.MoreMayCome());
    EXPECT_EQ(Rendered(log, 0, 300), Expected(0, 300));
  }
}

}  // namespace
}  // namespace drav::feed
