// What dravrun derives from each variable of the corpus of tests/data: the
// name it writes the format with, how it renders the values (as strings, on
// the calendar, or as numbers) and where each value lies in a raw record.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/FormatRules.h"
#include "tests/support/VariableListCorpus.h"
#include "tools/dravrun/Columns.h"
#include "tools/dravrun/Dictionary.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

// Strings, calendar values (dates, times, weekdays, months) or numbers.
std::string RenderingOf(const std::string& kind) {
  return kind == "string" || kind == "number" ? kind : "calendar";
}

std::string RenderingOf(int type) {
  return IsStringFormat(type) ? "string" : IsDateTimeFormat(type) ? "calendar" : "number";
}

// The format dravrun's name for it reads back as, "TYPE WIDTH.DECIMALS".
std::string ReadBack(const PrintFormat& format) {
  drav::format::Format read;
  if (!drav::format::ReadFormatWord(FormatName(format).c_str(), read)) return FormatName(format) + " refused";
  return std::to_string(read.code) + " " + std::to_string(read.width) + "." + std::to_string(read.decimals);
}

TEST(FormatCorpus, DravrunNamesRendersAndPlacesEveryAcceptedVariable) {
  for (const drav::test::ListCase& c : drav::test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    if (c.verdict.rfind("refused", 0) == 0) continue;  // dravrun never sees a refused list
    std::istringstream fields(c.verdict);
    std::string head, field, expected, got;
    std::getline(fields, head, '\t');
    std::vector<Column> columns;
    while (std::getline(fields, field, '\t')) {
      if (field.rfind("warning", 0) == 0) continue;
      std::istringstream words(field);
      Column column;
      std::string widthDecimals, kind, slot;
      words >> column.name >> column.format.type >> widthDecimals >> kind >> slot;
      std::sscanf(widthDecimals.c_str(), "%d.%d", &column.format.width, &column.format.decimals);
      column.stringWidth = IsStringFormat(column.format.type) ? column.format.width : 0;
      columns.push_back(column);
      expected += column.name + " " + std::to_string(column.format.type) + " " + widthDecimals + " " +
                  RenderingOf(kind) + " offset " + std::to_string(std::stoi(slot.substr(1)) * 8) + "; ";
    }
    const std::string dictionary = JsonDictionary(columns);
    std::size_t at = 0;
    for (const Column& column : columns) {
      at = dictionary.find("\"offset\": ", at) + 10;
      got += column.name + " " + ReadBack(column.format) + " " + RenderingOf(column.format.type) + " offset " +
             std::to_string(std::stoi(dictionary.substr(at))) + "; ";
    }
    EXPECT_EQ(got, expected) << "line " << c.line << ": " << c.list;
    EXPECT_EQ(dictionary.rfind("{\"record_bytes\": " + std::to_string(std::stoi(head) * 8) + ",", 0), 0u)
        << "line " << c.line << ": " << dictionary;
  }
}

}  // namespace
}  // namespace dravrun
