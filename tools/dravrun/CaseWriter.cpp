#include "tools/dravrun/CaseWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/DravFormat.h"
#include "tools/dravrun/TextEscape.h"

namespace dravrun {

CaseWriter::CaseWriter(std::FILE* out, std::vector<Column> columns)
    : out_(out), columns_(std::move(columns)) {}

CaseWriter::~CaseWriter() = default;

void CaseWriter::RenderCell(std::size_t column, const char* value) {
  const Column& c = columns_[column];
  if (c.IsString()) {
    RenderString(value, static_cast<std::size_t>(c.stringWidth), c.format, cell_);
  } else {
    RenderNumber(NumberAt(value), c.format, cell_);
  }
}

void CaseWriter::FlushLine() {
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), out_);
  line_.clear();
}

std::size_t DisplayWidth(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char byte : text) {
    if ((byte & 0xC0) != 0x80) ++width;
  }
  return width;
}

namespace {

// CSV (RFC 4180) and TSV: a header row of names, then one row per case with
// each value rendered by its print format, without padding.
class DelimitedWriter : public CaseWriter {
 public:
  DelimitedWriter(std::FILE* out, std::vector<Column> columns, char separator)
      : CaseWriter(out, std::move(columns)), separator_(separator) {}

  void WriteHeader() override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendField(i, columns_[i].name);
    FlushLine();
  }

  void WriteCase(const CaseValues& values) override {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      RenderCell(i, values[i]);  // renderers never pad, so no trimming here
      AppendField(i, cell_);
    }
    FlushLine();
  }

 private:
  void AppendField(std::size_t column, const std::string& text) {
    if (column > 0) line_ += separator_;
    if (separator_ == ',') {
      AppendCsvField(text, line_);
    } else {
      AppendTsvField(text, line_);
    }
  }

  char separator_;
};

// One JSON object per case. Numeric formats give JSON numbers with the
// format's decimals; date and time formats give their rendered text as a
// JSON string; missing values are null.
class JsonLinesWriter : public CaseWriter {
 public:
  using CaseWriter::CaseWriter;

  void WriteCase(const CaseValues& values) override {
    line_ += '{';
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i > 0) line_ += ',';
      AppendJsonString(columns_[i].name, line_);
      line_ += ':';
      AppendValue(i, values[i]);
    }
    line_ += '}';
    FlushLine();
  }

 private:
  void AppendValue(std::size_t column, const char* value) {
    const Column& c = columns_[column];
    if (c.IsString()) {
      RenderCell(column, value);
      AppendJsonString(cell_, line_);
      return;
    }
    const double number = NumberAt(value);
    if (std::isnan(number)) {
      line_ += "null";
    } else if (std::isinf(number) || IsDateTimeFormat(c.format.type)) {
      RenderCell(column, value);
      AppendJsonString(cell_, line_);
    } else {
      AppendJsonNumber(number, c.format.type == kFmtE, c.format.decimals, line_);
    }
  }
};

// Aligned columns for people: numbers right-aligned in their format's width,
// strings left-aligned and cut to kMaxStringColumn characters, missing
// values shown as ".". The widths come from the formats, so the table
// streams without looking ahead.
class TableWriter : public CaseWriter {
 public:
  static constexpr std::size_t kMaxStringColumn = 32;

  TableWriter(std::FILE* out, std::vector<Column> columns) : CaseWriter(out, std::move(columns)) {
    for (const Column& c : columns_) {
      std::size_t width = c.IsString() ? std::min<std::size_t>(static_cast<std::size_t>(c.format.width), kMaxStringColumn)
                                       : static_cast<std::size_t>(c.format.width);
      widths_.push_back(std::max(width, DisplayWidth(c.name)));
    }
  }

  void WriteHeader() override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, columns_[i].name);
    FlushTrimmed();
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, std::string(widths_[i], '-'));
    FlushTrimmed();
  }

  void WriteCase(const CaseValues& values) override {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      RenderCell(i, values[i]);
      if (!columns_[i].IsString() && cell_.empty()) cell_ = ".";
      CutToWidth(i);
      AppendAligned(i, cell_);
    }
    FlushTrimmed();
  }

 private:
  void CutToWidth(std::size_t column) {
    if (DisplayWidth(cell_) <= widths_[column]) return;
    // Keep widths_ - 1 characters and mark the cut with an ellipsis.
    std::size_t kept = 0, bytes = 0;
    while (bytes < cell_.size()) {
      std::size_t next = bytes + 1;
      while (next < cell_.size() && (static_cast<unsigned char>(cell_[next]) & 0xC0) == 0x80) ++next;
      if (kept + 1 >= widths_[column]) break;
      ++kept;
      bytes = next;
    }
    cell_.resize(bytes);
    cell_ += "\xE2\x80\xA6";
  }

  void AppendAligned(std::size_t column, const std::string& text) {
    if (column > 0) line_ += "  ";
    const std::size_t width = DisplayWidth(text);
    const std::size_t pad = width < widths_[column] ? widths_[column] - width : 0;
    if (columns_[column].IsString()) {
      line_ += text;
      line_.append(pad, ' ');
    } else {
      line_.append(pad, ' ');
      line_ += text;
    }
  }

  void FlushTrimmed() {
    while (!line_.empty() && line_.back() == ' ') line_.pop_back();
    FlushLine();
  }

  std::vector<std::size_t> widths_;
};

}  // namespace

std::unique_ptr<CaseWriter> MakeCaseWriter(OutputFormat format, std::FILE* out,
                                           const std::vector<Column>& columns) {
  switch (format) {
    case OutputFormat::kCsv: return std::make_unique<DelimitedWriter>(out, columns, ',');
    case OutputFormat::kTsv: return std::make_unique<DelimitedWriter>(out, columns, '\t');
    case OutputFormat::kJsonl: return std::make_unique<JsonLinesWriter>(out, columns);
    case OutputFormat::kTable: return std::make_unique<TableWriter>(out, columns);
    case OutputFormat::kNone: break;
  }
  return nullptr;
}

}  // namespace dravrun
