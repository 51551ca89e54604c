#include "feeder/CsvCases.h"

#include <string>
#include <vector>

#include "feeder/CsvReader.h"
#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

std::string Count(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, bool header) {
  const VariableList& list = builder.List();
  MemoryCases cases(list.RecordBytes());
  CsvReader reader(in);
  std::vector<std::string> fields;
  if (header && reader.Next(fields) && fields.size() != list.size())
    throw InputError("line 1: the header names " + Count(fields.size(), "column") + ", but there are " +
                     Count(list.size(), "variable"));
  while (reader.Next(fields)) {
    long line = reader.FieldLines().front();
    if (fields.size() != list.size())
      throw InputError("line " + std::to_string(line) + ": " + Count(fields.size(), "field") +
                       ", but " + Count(list.size(), "variable"));
    char* record = cases.AddRecord();
    for (std::size_t column = 0; column < fields.size(); ++column) {
      try {
        builder.SetText(record, column, fields[column]);
      } catch (const InputError& error) {
        throw InputError("line " + std::to_string(reader.FieldLines()[column]) + ", column " +
                         std::to_string(column + 1) + " (" + list[column].name +
                         "): " + error.what());
      }
    }
  }
  return cases;
}

}  // namespace feed
}  // namespace drav
