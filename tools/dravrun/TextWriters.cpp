// The machine-read text outputs: CSV, TSV and JSON Lines.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/DravFormat.h"
#include "tools/dravrun/ExactFormat.h"
#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/WriterKinds.h"

namespace dravrun {
namespace {

// CSV (RFC 4180) and TSV: a header row of names, then one row per case with
// each value rendered by its print format, without padding.
class DelimitedWriter : public CaseWriter {
 public:
  DelimitedWriter(std::FILE* out, std::vector<Column> columns, WriterSettings settings, char separator)
      : CaseWriter(out, std::move(columns), std::move(settings)), separator_(separator) {
    for (const Column& c : columns_) verbatim_.push_back(NeverEscaped(c));
  }

  void WriteHeader() override {
    char* out = Room(RowRoom());
    for (std::size_t i = 0; i < columns_.size(); ++i) out = AppendField(i, columns_[i].name, out);
    EndLine(out);
  }

  void WriteCase(const CaseValues& values) override {
    char* out = Room(RowRoom());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      // Renderers never pad, so no trimming here.
      if (verbatim_[i]) {
        if (i > 0) *out++ = separator_;
        out = WriteCell(i, values[i], out);
      } else {
        out = AppendField(i, RenderCell(i, values[i]), out);
      }
    }
    EndLine(out);
  }

 private:
  // A column whose every text can go into the row as it is rendered: a
  // number in a format that shows no comma (in CSV; exact text never has
  // one), with a missing text that needs no escaping either.
  bool NeverEscaped(const Column& c) const {
    if (c.IsString() || NeedsEscaping(missing_)) return false;
    return separator_ != ',' || exact_ || (c.format.type != kFmtCOMMA && c.format.type != kFmtDOT && c.format.type != kFmtDOLLAR);
  }

  bool NeedsEscaping(std::string_view text) const {
    const char* const special = separator_ == ',' ? ",\"\r\n" : "\\\t\r\n";
    return text.find_first_of(special) != std::string_view::npos;
  }

  char* AppendField(std::size_t column, std::string_view text, char* out) {
    if (column > 0) *out++ = separator_;
    return separator_ == ',' ? AppendCsvField(text.data(), text.size(), out)
                             : AppendTsvField(text.data(), text.size(), out);
  }

  void EndLine(char* out) {
    *out++ = '\n';
    Advance(out);
    FlushRow();
  }

  char separator_;
  std::vector<bool> verbatim_;
};

// One JSON object per case. Numeric formats give JSON numbers with the
// format's decimals; date and time formats give their rendered text as a
// JSON string; missing values are null. Exact numbers are JSON numbers as
// they are (an infinity, which JSON cannot write as a number, the string
// "inf" or "-inf"), exact dates and times JSON strings.
class JsonLinesWriter : public CaseWriter {
 public:
  JsonLinesWriter(std::FILE* out, std::vector<Column> columns, WriterSettings settings)
      : CaseWriter(out, std::move(columns), std::move(settings)) {
    for (const Column& c : columns_) {
      std::string key;
      AppendJsonString(c.name, key);
      keys_.push_back(key + ':');
    }
  }

  void WriteCase(const CaseValues& values) override {
    char* out = Room(RowRoom());
    *out++ = '{';
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i > 0) *out++ = ',';
      std::memcpy(out, keys_[i].data(), keys_[i].size());
      out = AppendValue(i, values[i], out + keys_[i].size());
    }
    *out++ = '}';
    *out++ = '\n';
    Advance(out);
    FlushRow();
  }

 private:
  char* AppendValue(std::size_t column, const char* value, char* out) {
    const Column& c = columns_[column];
    if (c.IsString()) return AppendText(RenderCell(column, value), out);
    const double number = NumberAt(value);
    if (std::isnan(number)) {
      std::memcpy(out, "null", 4);
      return out + 4;
    }
    if (exact_) return AppendExact(number, c.format.type, out);
    if (std::isinf(number) || IsDateTimeFormat(c.format.type)) return AppendText(RenderCell(column, value), out);
    return AppendJsonNumber(number, c.format.type == kFmtE, c.format.decimals, out);
  }

  static char* AppendText(std::string_view text, char* out) { return AppendJsonString(text.data(), text.size(), out); }

  // Exact text needs no escaping: a bare number, or quotes around the rest.
  static char* AppendExact(double number, int type, char* out) {
    if (ExactKindOf(type) == ExactKind::kNumber && !std::isinf(number)) return RenderExact(number, type, out);
    *out++ = '"';
    out = RenderExact(number, type, out);
    *out++ = '"';
    return out;
  }

  std::vector<std::string> keys_;  // each name as a JSON string and its colon
};

}  // namespace

std::unique_ptr<CaseWriter> MakeDelimitedWriter(std::FILE* out, const std::vector<Column>& columns,
                                                const WriterSettings& settings, char separator) {
  return std::make_unique<DelimitedWriter>(out, columns, settings, separator);
}

std::unique_ptr<CaseWriter> MakeJsonLinesWriter(std::FILE* out, const std::vector<Column>& columns,
                                                const WriterSettings& settings) {
  return std::make_unique<JsonLinesWriter>(out, columns, settings);
}

}  // namespace dravrun
