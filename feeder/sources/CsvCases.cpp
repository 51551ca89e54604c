#include "dravfeed/CsvCases.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dravfeed/FeederError.h"
#include "feeder/records/DatePattern.h"
#include "feeder/records/QuotedText.h"
#include "feeder/sources/CsvReader.h"

namespace drav {
namespace feed {
namespace {

constexpr std::size_t kValueBytes = 64;      // the text of a number, date or time, at most
constexpr std::size_t kColumnSlack = 64;     // quotes, blanks and the delimiter around a field
constexpr std::size_t kLeastLimit = 1 << 20;  // what any record may take
// Fields beyond the columns expected, before a record is refused unread (a
// field costs more to hold than its bytes); any header's columns, at most.
constexpr std::size_t kExtraFields = 64;
constexpr std::size_t kMostColumns = 1 << 16;

std::string Count(std::size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string AtLine(long line) { return "line " + std::to_string(line) + ": "; }

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
  std::string out(Trim(text));
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

// A column name as a variable would be named: runs of characters that no
// name holds become one "_", and none is left at the ends.
std::string AsName(std::string_view text) {
  std::string out;
  bool gap = false;
  for (char c : Lowered(text)) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
                      static_cast<unsigned char>(c) >= 0x80;
    if (!kept) {
      gap = true;
      continue;
    }
    if (gap && !out.empty()) out += '_';
    gap = false;
    out += c;
  }
  return out;
}

std::size_t RecordLimit(const VariableList& list, std::size_t otherColumns) {
  std::size_t bytes = otherColumns * (2 * kValueBytes + kColumnSlack);
  for (const FeedVariable& variable : list.Variables())
    bytes += 2 * (variable.kind == ValueKind::kString ? static_cast<std::size_t>(variable.stringWidth)
                                                      : kValueBytes) +
             kColumnSlack;
  return std::max(bytes, kLeastLimit);
}

const char kLimitWhy[] = ", more than the variables can need (the rest of the line is not read)";

}  // namespace

class DRAV_FEED_HIDDEN CsvCaseReader::Impl {
 public:
  Impl(std::istream& in, const RecordBuilder& builder, const CsvOptions& options);
  bool Next(char* record);
  bool CutByEnd() const { return reader_.CutByEnd(); }
  long Line() const { return reader_.FieldLines().empty() ? 0 : reader_.FieldLines().front(); }

 private:
  void ReadHeader();
  void SetText(char* record, std::size_t variable, std::size_t column) const;
  bool IsNull(std::size_t column) const;

  CsvReader reader_;
  const RecordBuilder& builder_;
  CsvOptions options_;
  std::optional<DatePattern> datePattern_;
  bool headerPending_;
  std::vector<std::size_t> columnOf_;  // the field of each variable
  std::size_t columns_;                // fields in a record (at most, with a header)
  std::vector<std::string> fields_;
};

CsvCaseReader::Impl::Impl(std::istream& in, const RecordBuilder& builder, const CsvOptions& options)
    : reader_(in, options),
      builder_(builder),
      options_(options),
      headerPending_(options.header),
      columns_(builder.List().size()) {
  if (!options.datePattern.empty()) datePattern_.emplace(options.datePattern);
  for (std::size_t i = 0; i < columns_; ++i) columnOf_.push_back(i);
  reader_.SetRecordLimit(RecordLimit(builder.List(), 0),
                         options.header ? kMostColumns : columns_ + kExtraFields, kLimitWhy);
}

void CsvCaseReader::Impl::ReadHeader() {
  headerPending_ = false;
  if (!reader_.Next(fields_)) return;
  if (options_.headerInOrder) return;
  const long line = Line();
  const VariableList& list = builder_.List();
  // Each variable's column: by its name as written, else as a name.
  for (std::size_t v = 0; v < list.size(); ++v) {
    const std::string name = Lowered(list[v].name);
    for (auto key : {Lowered, AsName}) {
      std::vector<std::size_t> found;
      for (std::size_t c = 0; c < fields_.size(); ++c)
        if (key(fields_[c]) == name) found.push_back(c);
      if (found.size() > 1)
        throw InputError(AtLine(line) + "variable " + list[v].name + " matches both column " +
                         std::to_string(found[0] + 1) + " (" + Quoted(fields_[found[0]]) +
                         ") and column " + std::to_string(found[1] + 1) + " (" +
                         Quoted(fields_[found[1]]) + ") of the header");
      if (found.size() == 1) {
        columnOf_[v] = found[0];
        break;
      }
      if (key == AsName) throw InputError(AtLine(line) + "the header has no column for variable " + list[v].name);
    }
  }
  columns_ = fields_.size();
  reader_.SetRecordLimit(RecordLimit(list, columns_ - std::min(columns_, list.size())),
                         columns_ + kExtraFields, kLimitWhy);
}

bool CsvCaseReader::Impl::IsNull(std::size_t column) const {
  if (reader_.FieldQuoted()[column]) return false;
  return options_.IsNullText(fields_[column]);
}

void CsvCaseReader::Impl::SetText(char* record, std::size_t variable, std::size_t column) const {
  const ValueKind kind = builder_.List()[variable].kind;
  if (!options_.nullTexts.empty() && IsNull(column)) {
    if (kind == ValueKind::kString) return builder_.SetString(record, variable, "");
    return builder_.SetMissing(record, variable);
  }
  if (datePattern_ && kind == ValueKind::kDate) {
    const std::string_view text = Trim(fields_[column]);
    if (!text.empty()) return builder_.SetNumber(record, variable, datePattern_->Seconds(text));
  }
  builder_.SetText(record, variable, fields_[column]);
}

bool CsvCaseReader::Impl::Next(char* record) {
  if (headerPending_) ReadHeader();
  if (!reader_.Next(fields_)) return false;
  const VariableList& list = builder_.List();
  if (fields_.size() > columns_ || (!options_.header && fields_.size() < columns_))
    throw InputError(AtLine(Line()) + Count(fields_.size(), "field") + ", but " +
                     (options_.header ? "the header names " + Count(columns_, "column")
                                      : Count(columns_, "variable")));
  // A header's last columns may be left out of a record when no variable
  // takes them, as files that drop trailing empty fields do.
  for (std::size_t v = 0; fields_.size() < columns_ && v < list.size(); ++v)
    if (columnOf_[v] >= fields_.size())
      throw InputError(AtLine(Line()) + Count(fields_.size(), "field") + ", but variable " + list[v].name +
                       " is column " + std::to_string(columnOf_[v] + 1) + " of the header");
  for (std::size_t v = 0; v < list.size(); ++v) {
    const std::size_t column = columnOf_[v];
    try {
      SetText(record, v, column);
    } catch (const InputError& error) {
      throw InputError("line " + std::to_string(reader_.FieldLines()[column]) + ", column " +
                       std::to_string(column + 1) + " (" + list[v].name + "): " + error.what());
    }
  }
  return true;
}

CsvCaseReader::CsvCaseReader(std::istream& in, const RecordBuilder& builder, const CsvOptions& options)
    : impl_(std::make_unique<Impl>(in, builder, options)) {}

CsvCaseReader::~CsvCaseReader() = default;

bool CsvCaseReader::Next(char* record) { return impl_->Next(record); }
bool CsvCaseReader::CutByEnd() const { return impl_->CutByEnd(); }
long CsvCaseReader::Line() const { return impl_->Line(); }

MemoryCases LoadCsvCases(std::istream& in, const RecordBuilder& builder, const CsvOptions& options) {
  MemoryCases cases(builder.List().RecordBytes());
  CsvCaseReader reader(in, builder, options);
  std::vector<char> record(builder.List().RecordBytes());
  while (reader.Next(record.data())) std::memcpy(cases.AddRecord(), record.data(), record.size());
  return cases;
}

}  // namespace feed
}  // namespace drav
