#include "feeder/sources/VariableInference.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

#include "base/Utf8.h"
#include "base/VariableName.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/RecordBuilder.h"
#include "feeder/records/DatePattern.h"
#include "feeder/records/DateTimeText.h"
#include "feeder/sources/CsvReader.h"

namespace drav {
namespace feed {
namespace {

constexpr std::size_t kMaxStringWidth = 32767;
constexpr double kExactWhole = 9007199254740992.0;  // 2^53
constexpr double kSecondsPerDay = 86400;
// Words of the command language a proposed name stays clear of, beyond the
// reserved ones the name rule refuses (the Python package avoids the same).
const char* const kAlsoAvoided[] = {"BY", "ALL", "WITH"};

// `text` cut to at most `limit` bytes at a character boundary.
std::string CutAt(const std::string& text, std::size_t limit) {
  return text.substr(0, name::CutAtCharBoundary(text.c_str(), text.size(), limit));
}

std::string WithoutTrailingDots(std::string text) {
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

bool IsAvoided(const std::string& word) {
  if (name::CheckName(word.c_str()) == name::kReservedWord) return true;
  const std::string upper = name::UpperCase(word);
  for (const char* avoided : kAlsoAvoided) {
    if (upper == avoided) return true;
  }
  return false;
}

bool ParsesAs(double (*parse)(std::string_view), const std::string& text, double& value) {
  try {
    value = parse(text);
    return true;
  } catch (const InputError&) {
    return false;
  }
}

std::string Digits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

}  // namespace

std::string MakeVariableName(const std::string& label, std::set<std::string>& taken) {
  std::string name;
  bool first = true, startsWithLetter = false;
  for (std::size_t at = 0; at < label.size();) {
    const std::size_t length = utf8::CharLength(label.c_str() + at);
    const unsigned int code = utf8::Decode(label.c_str() + at, length);
    const bool letter = utf8::IsLetter(code);
    if (first) startsWithLetter = letter;
    first = false;
    if (letter || utf8::IsDigit(code) || code == '_' || code == '.')
      name.append(label, at, length);
    else
      name += '_';
    at += length;
  }
  if (!startsWithLetter) name = "v" + name;
  name = WithoutTrailingDots(CutAt(name, name::kMaxNameBytes));
  if (name.empty()) name = "v";
  if (IsAvoided(name)) name += '_';
  std::string unique = name;
  for (int n = 2; taken.count(name::UpperCase(unique)) > 0; ++n) {
    const std::string suffix = "_" + std::to_string(n);
    unique = WithoutTrailingDots(CutAt(name, name::kMaxNameBytes - suffix.size())) + suffix;
  }
  taken.insert(name::UpperCase(unique));
  return unique;
}

VariableInference::VariableInference(const std::vector<std::string>& header)
    : columns_(header.size()) {
  std::set<std::string> taken;
  for (const std::string& label : header) names_.push_back(MakeVariableName(label, taken));
}

void VariableInference::Add(const std::vector<std::string>& fields) {
  if (fields.size() != columns_.size())
    throw InputError("record " + std::to_string(records_ + 1) + " has " + std::to_string(fields.size()) +
                     " fields, but the header names " + std::to_string(columns_.size()) + " columns");
  for (std::size_t i = 0; i < fields.size(); ++i) AddValue(columns_[i], fields[i]);
  ++records_;
}

void VariableInference::AddValue(Column& column, const std::string& text) const {
  if (text.find_first_not_of(" \t") == std::string::npos) return;  // missing: fits anything
  column.longest = std::max(column.longest, text.size());
  double value = 0;
  if (column.number && ParsesAs(ParseNumber, text, value)) {
    column.whole = column.whole && value == std::trunc(value) && std::fabs(value) <= kExactWhole;
    column.low = column.seen ? std::min(column.low, value) : value;
    column.high = column.seen ? std::max(column.high, value) : value;
    column.seen = true;
    return;
  }
  // Numbers seen before are neither dates nor times written as text.
  if (column.number && column.seen) column.date = column.time = false;
  column.number = false;
  if (column.date && ParsesAsDate(text, value)) {
    column.midnight = column.midnight && std::fmod(value, kSecondsPerDay) == 0;
  } else {
    column.date = false;
  }
  if (column.time) column.time = ParsesAs(ParseTimeSeconds, text, value);
}

bool VariableInference::ParsesAsDate(const std::string& text, double& value) const {
  if (!datePattern_) return ParsesAs(ParseDateSeconds, text, value);
  try {
    value = datePattern_->Seconds(text);
    return true;
  } catch (const InputError&) {
    return false;
  }
}

std::string VariableInference::FormatOf(const Column& column) {
  if (column.number) {
    if (!column.seen || !column.whole) return "F40.16";
    return "F" + std::to_string(std::max(Digits(column.low).size(), Digits(column.high).size()));
  }
  if (column.date) return column.midnight ? "DATE11" : "DATETIME23.2";
  if (column.time) return "TIME11.2";
  return "A" + std::to_string(std::max<std::size_t>(column.longest, 1));
}

std::string VariableInference::ListText() const {
  std::string text;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].longest > kMaxStringWidth && !columns_[i].number && !columns_[i].date && !columns_[i].time)
      throw InputError("column " + std::to_string(i + 1) + " (" + names_[i] + ") holds a value of " +
                       std::to_string(columns_[i].longest) + " bytes, wider than the " +
                       std::to_string(kMaxStringWidth) + " a string variable can hold");
    if (i > 0) text += ' ';
    text += names_[i] + ' ' + FormatOf(columns_[i]);
  }
  return text;
}

InferredList InferCsvVariables(const std::string& path, std::size_t sampleRows, const CsvOptions& csv) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot open " + path + ": " + std::strerror(errno));
  CsvReader reader(in, csv);
  std::vector<std::string> fields;
  if (!reader.Next(fields)) throw InputError(path + " is empty: there is no header to name the variables");
  VariableInference inference(fields);
  std::optional<DatePattern> datePattern;
  if (!csv.datePattern.empty()) inference.ReadDatesBy(&datePattern.emplace(csv.datePattern));
  while ((sampleRows == 0 || inference.Records() < sampleRows) && reader.Next(fields)) {
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (!reader.FieldQuoted()[i] && csv.IsNullText(fields[i])) fields[i].clear();
    try {
      inference.Add(fields);
    } catch (const InputError& error) {
      throw InputError(path + ", line " + std::to_string(reader.FieldLines().front()) + ": " + error.what());
    }
  }
  return InferredList{inference.ListText(), inference.Records()};
}

}  // namespace feed
}  // namespace drav
