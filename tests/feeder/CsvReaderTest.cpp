#include "feeder/CsvReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <streambuf>

#include "feeder/CsvCases.h"
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

Records ReadAll(const std::string& text, std::size_t chunk) {
  ChunkedBuf buffer(text, chunk);
  std::istream in(&buffer);
  CsvReader reader(in);
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
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {1, 2, 3, 64}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(ReadAll(c.text, chunk), c.records);
    }
  }
}

TEST(CsvReaderTest, MisplacedQuotesNameLineAndColumn) {
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"a,b\n1,2\"x\n", "line 2, column 2: a quote inside a field that does not start with one"},
      {"a,\"b\"c\n", "line 1, column 2: unexpected character after the closing quote of a field"},
      {"a\n\"b\nc\n", "line 2, column 1: a quoted field is never closed"},
      {"\"x\ny\"z,1\n", "line 2, column 1: unexpected character after the closing quote of a field"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(InputErrorOf([&] { ReadAll(c.text, 1); }), c.message);
  }
}

// (Good records are seen through dravfeed, which loads them with this.)
TEST(CsvCasesTest, NamesTheLineColumnAndVariableOfABadValue) {
  VariableList list = VariableList::Parse("id F8 name A4 day DATE");
  RecordBuilder builder(list, ByteOrder::kNative);
  struct Bad {
    std::string text;
    const char* message;
    bool header = false;
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
      {"id,name\n1,a,2024-03-01\n", "line 1: the header names 2 columns, but there are 3 variables", true},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    std::istringstream in(b.text);
    EXPECT_EQ(InputErrorOf([&] { LoadCsvCases(in, builder, b.header); }), b.message);
  }
}

}  // namespace
}  // namespace feed
}  // namespace drav
