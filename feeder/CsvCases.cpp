#include "feeder/CsvCases.h"

#include <string>
#include <vector>

#include "feeder/CsvReader.h"
#include "feeder/FeederError.h"

namespace drav {
namespace feed {

MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, bool header) {
  const VariableList& list = builder.List();
  MemoryCases cases(list.RecordBytes());
  CsvReader reader(in);
  std::vector<std::string> fields;
  if (header && !reader.Next(fields)) return cases;
  while (reader.Next(fields)) {
    long line = reader.FieldLines().front();
    if (fields.size() != list.size())
      throw InputError("line " + std::to_string(line) + ": " + std::to_string(fields.size()) +
                       " fields, but " + std::to_string(list.size()) + " variables");
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
