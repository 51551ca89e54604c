#include "feeder/sources/CsvReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <thread>

#include "dravfeed/CaseLog.h"
#include "dravfeed/CsvCases.h"
#include "feeder/records/DatePattern.h"
#include "dravfeed/LiveCsvInput.h"
#include "tests/feeder/InputErrorOf.h"

namespace drav {
namespace feed {
namespace {

using Records = std::vector<std::vector<std::string>>;

// Hands out its text `chunk` bytes at a time and keeps nothing it has
// handed out, so a reader that relies on putting bytes back fails here.
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
  std::size_t chunk_;
  std::size_t pos_ = 0;
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

TEST(CsvReaderTest, ReadsRfc4180RecordsInAnyChunking) {
  struct Case {
    const char* name;
    std::string text;
    Records records;
    CsvOptions options = CsvOptions();
  };
  const Case cases[] = {
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
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {1, 2, 3, 64}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(ReadAll(c.text, chunk, c.options), c.records);
    }
  }
}

TEST(CsvReaderTest, MisplacedQuotesNameLineAndColumn) {
  struct Case {
    std::string text;
    const char* message;
    CsvOptions options = CsvOptions();
  };
  const Case cases[] = {
      {"skipped\n#\n\"x\"y\n", "line 3, column 1: unexpected character after the closing quote of a field",
       With(',', '#', 1)},
      {"a,b\n1,2\"x\n", "line 2, column 2: a quote inside a field that does not start with one"},
      {"a,\"b\"c\n", "line 1, column 2: unexpected character after the closing quote of a field"},
      {"a\n\"b\nc\n", "line 2, column 1: a quoted field is never closed"},
      {"\"x\ny\"z,1\n", "line 2, column 1: unexpected character after the closing quote of a field"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(InputErrorOf([&] { ReadAll(c.text, 1, c.options); }), c.message);
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

// The records of `text` read with `options` (in chunks of 3 bytes).
std::string CaseRecords(const std::string& text, const char* variables, const CsvOptions& options) {
  VariableList list = VariableList::Parse(variables);
  RecordBuilder builder(list, ByteOrder::kNative);
  ChunkedBuf buffer(text, 3);
  std::istream in(&buffer);
  MemoryCases cases = LoadCsvCases(in, builder, options);
  std::string records(static_cast<std::size_t>(cases.CaseCount()) * list.RecordBytes(), '\0');
  cases.Render(0, cases.CaseCount(), records.data());
  return records;
}

// The files people have: exports with a preamble and comments, NULL and NA
// for missing values, tabs, dates as a locale writes them, and headers with
// more columns than the variables, in their own order. Each gives the cases
// of the plain CSV text beside it.
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
       "2026-12-07 11:00,-1\n",
       "2026-12-07T10:00:00,3.5\n2026-12-07T11:00:00,-1\n"},
      {"day-month-year", "day DATE11 n F4", Dates("%d-%b-%y"), "07-Dec-26,1\n29-feb-24,2\n01-JAN-70,3\n 5-Sep-68 ,\n,5\n",
       "2026-12-07,1\n2024-02-29,2\n1970-01-01,3\n2068-09-05,\n,5\n"},
      {"twelve-hour clock", "at DATETIME20", Dates("%m/%d/%Y %I:%M %p"), "12/07/2026 12:05 AM\n12/7/2026 1:30  pm\n",
       "2026-12-07T00:05\n2026-12-07T13:30\n"},
      {"other columns, other order", "volume F12 adj_close F8.2 DATE DATE11", Header(),
       "Date,Open,Adj Close,Volume\n2024-01-02,187.15,185.4,82488700\n", "82488700,185.4,2024-01-02\n"},
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
  struct Bad {
    std::string text;
    std::string message;
    CsvOptions options = CsvOptions();
  };
  const Bad bad[] = {
      {"1,a,2024-03-01\n2,b,2024-02-30\n",
       "line 2, column 3 (day): \"2024-02-30\" is not a day of the calendar"},
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
  VariableList list = VariableList::Parse("id F8 name A4 day DATE");
  RecordBuilder builder(list, ByteOrder::kNative);
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text.substr(0, 80));
    std::istringstream in(b.text);
    EXPECT_EQ(InputErrorOf([&] { LoadCsvCases(in, builder, b.options); }), b.message);
  }
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

// A runaway line (a producer that lost its line ends, a binary file given
// by mistake) is refused once it passes what the variables can need, and
// is never held whole: 64 MB from a pipe leave the peak memory as it was.
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

}  // namespace
}  // namespace feed
}  // namespace drav
