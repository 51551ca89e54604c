// Fuzz target: the feeder's CSV reader and the loading of CSV text into case
// records.
//
// Input layout: one flag byte (bit 0: the first record is a header; bit 1:
// records in the swapped byte order; bit 2: ';' separates fields; bit 3: '#'
// starts a comment line; bit 4: NA is a missing value; bit 5: dates are
// read by a pattern; bits 6-7: lines of preamble to skip), then a variable
// list up to the first line feed, then the CSV text. When the variable list is refused, a fixed
// list with one variable of every kind is used, so the CSV part is fuzzed
// either way.
//
// Checked: only InputError (a complete sentence) ever leaves the library for
// bad input; every field has its line, lines never go back; a load that
// succeeds gives exactly one case per CSV record (less the header), and
// every case can be rendered in full.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "dravfeed/CsvCases.h"
#include "feeder/sources/CsvReader.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/RecordBuilder.h"
#include "dravfeed/VariableList.h"
#include "fuzz/FuzzCheck.h"

using drav::feed::ByteOrder;
using drav::feed::CsvOptions;
using drav::feed::CsvReader;
using drav::feed::InputError;
using drav::feed::MemoryCases;
using drav::feed::RecordBuilder;
using drav::feed::VariableList;

namespace {

constexpr const char* kFallbackList = "n F8.2 s A5 d DATETIME t TIME";

VariableList ListFrom(const std::string& text) {
  try {
    return VariableList::Parse(text);
  } catch (const InputError& error) {
    FUZZ_CHECK(FuzzTouch(error.what()) > 0);
    return VariableList::Parse(kFallbackList);
  }
}

// Reads every record with the bare reader; the record count, or -1 when the
// text is refused.
long CountRecords(const std::string& csv, const CsvOptions& options) {
  std::istringstream in(csv);
  CsvReader reader(in, options);
  std::vector<std::string> fields;
  long records = 0;
  try {
    while (reader.Next(fields)) {
      ++records;
      const std::vector<long>& lines = reader.FieldLines();
      FUZZ_CHECK(!fields.empty());
      FUZZ_CHECK(lines.size() == fields.size());
      for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(lines[i] >= 1);
        FUZZ_CHECK(i == 0 || lines[i] >= lines[i - 1]);
      }
    }
  } catch (const InputError& error) {
    FUZZ_CHECK(FuzzTouch(error.what()) > 0);
    return -1;
  }
  return records;
}

void LoadAndRender(const std::string& csv, const RecordBuilder& builder, const CsvOptions& options,
                   long records) {
  const bool header = options.header;
  std::istringstream in(csv);
  try {
    MemoryCases cases = drav::feed::LoadCsvCases(in, builder, options);
    // A load can only succeed where the reader accepted the whole text.
    FUZZ_CHECK(records >= 0);
    const long expected = header && records > 0 ? records - 1 : records;
    FUZZ_CHECK(cases.CaseCount() == expected);
    FUZZ_CHECK(cases.RecordBytes() == builder.List().RecordBytes());
    std::vector<char> out(static_cast<std::size_t>(cases.CaseCount()) * cases.RecordBytes());
    if (cases.CaseCount() > 0) cases.Render(0, cases.CaseCount(), out.data());
  } catch (const InputError& error) {
    FUZZ_CHECK(FuzzTouch(error.what()) > 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t newline = rest.find('\n');
  const std::string listText = rest.substr(0, newline);
  const std::string csv = newline == std::string::npos ? std::string() : rest.substr(newline + 1);

  const VariableList list = ListFrom(listText);
  const RecordBuilder builder(list, (flags & 2) != 0 ? ByteOrder::kSwapped : ByteOrder::kNative);
  CsvOptions options;
  options.header = (flags & 1) != 0;
  options.delimiter = (flags & 4) != 0 ? ';' : ',';
  options.comment = (flags & 8) != 0 ? '#' : '\0';
  if ((flags & 16) != 0) options.nullTexts = {"NA"};
  if ((flags & 32) != 0) options.datePattern = "%d-%b-%y %H:%M";
  options.skipLines = flags >> 6;
  const long records = CountRecords(csv, options);
  LoadAndRender(csv, builder, options, records);
  return 0;
}
