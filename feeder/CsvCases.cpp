#include "feeder/CsvCases.h"

#include <cstring>
#include <string>
#include <vector>

#include "feeder/FeederError.h"

namespace drav {
namespace feed {
namespace {

std::string Count(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace

CsvCaseReader::CsvCaseReader(std::istream& in, const RecordBuilder& builder, bool header)
    : reader_(in), builder_(builder), header_(header) {}

void CsvCaseReader::SkipHeader() {
  header_ = false;
  const VariableList& list = builder_.List();
  if (reader_.Next(fields_) && fields_.size() != list.size())
    throw InputError("line 1: the header names " + Count(fields_.size(), "column") +
                     ", but there are " + Count(list.size(), "variable"));
}

bool CsvCaseReader::Next(char* record) {
  if (header_) SkipHeader();
  if (!reader_.Next(fields_)) return false;
  const VariableList& list = builder_.List();
  if (fields_.size() != list.size())
    throw InputError("line " + std::to_string(Line()) + ": " + Count(fields_.size(), "field") +
                     ", but " + Count(list.size(), "variable"));
  for (std::size_t column = 0; column < fields_.size(); ++column) {
    try {
      builder_.SetText(record, column, fields_[column]);
    } catch (const InputError& error) {
      throw InputError("line " + std::to_string(reader_.FieldLines()[column]) + ", column " +
                       std::to_string(column + 1) + " (" + list[column].name +
                       "): " + error.what());
    }
  }
  return true;
}

MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, bool header) {
  MemoryCases cases(builder.List().RecordBytes());
  CsvCaseReader reader(in, builder, header);
  std::vector<char> record(builder.List().RecordBytes());
  while (reader.Next(record.data())) std::memcpy(cases.AddRecord(), record.data(), record.size());
  return cases;
}

}  // namespace feed
}  // namespace drav
