// What dravrun derives from each variable the corpus of tests/data accepts:
// the name it writes the format with, how it renders the values (strings,
// calendar values or numbers) and where each value lies in a raw record.
#include <gtest/gtest.h>

#include <sstream>

#include "base/FormatRules.h"
#include "tests/support/VariableListCorpus.h"
#include "tools/dravrun/Dictionary.h"

namespace dravrun {
namespace {

std::string Rendering(int type) {
  return IsStringFormat(type) ? "string" : IsDateTimeFormat(type) ? "calendar" : "number";
}

TEST(FormatCorpus, DravrunNamesRendersAndPlacesEveryAcceptedVariable) {
  for (const drav::test::ListCase& c : drav::test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    if (c.verdict.rfind("refused", 0) == 0) continue;  // dravrun never sees a refused list
    std::istringstream fields(c.verdict);
    std::string field, expected, got;
    std::getline(fields, field, '\t');
    std::vector<Column> columns;
    while (std::getline(fields, field, '\t')) {
      if (field.rfind("warning", 0) == 0) continue;
      Column v;
      std::string kind;
      char point, atSign;
      int slot;
      std::istringstream(field) >> v.name >> v.format.type >> v.format.width >> point >> v.format.decimals >> kind >>
          atSign >> slot;
      v.stringWidth = IsStringFormat(v.format.type) ? v.format.width : 0;
      columns.push_back(v);
      expected += drav::test::VariableField(v.name, v.format.type, v.format.width, v.format.decimals,
                                            kind == "string" || kind == "number" ? kind : "calendar", slot);
    }
    const std::string dictionary = JsonDictionary(columns);
    std::size_t at = 0;
    for (const Column& v : columns) {  // the format as dravrun names it, read back by the list's rules
      drav::format::Format read;
      drav::format::ReadFormatWord(FormatName(v.format).c_str(), read);
      at = dictionary.find("\"offset\": ", at) + 10;
      got += drav::test::VariableField(v.name, read.code, static_cast<int>(read.width), static_cast<int>(read.decimals),
                                       Rendering(v.format.type), std::stoi(dictionary.substr(at)) / 8);
    }
    EXPECT_EQ(got, expected) << "line " << c.line << ": " << c.list;
    EXPECT_EQ(dictionary.rfind("{\"record_bytes\": " + std::to_string(std::stoi(c.verdict) * 8) + ",", 0), 0u)
        << "line " << c.line << ": " << dictionary;
  }
}

}  // namespace
}  // namespace dravrun
