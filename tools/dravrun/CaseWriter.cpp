#include "tools/dravrun/CaseWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/DravFormat.h"
#include "tools/dravrun/TextEscape.h"

namespace dravrun {
namespace {

// The cell buffer holds any rendered number, or the widest string value
// shown as AHEX (two characters a byte), or the missing text.
std::size_t CellCapacity(const std::vector<Column>& columns, const std::string& missing) {
  std::size_t capacity = std::max(kMaxNumberText, missing.size());
  for (const Column& c : columns) capacity = std::max(capacity, 2 * static_cast<std::size_t>(c.stringWidth));
  return capacity;
}

}  // namespace

CaseWriter::CaseWriter(std::FILE* out, std::vector<Column> columns, WriterSettings settings)
    : out_(out),
      columns_(std::move(columns)),
      missing_(settings.missing.value_or("")),
      cell_(CellCapacity(columns_, missing_)) {
  rowRoom_ = 16;
  for (const Column& c : columns_) rowRoom_ += CellRoom() + 6 * c.name.size() + 8;
}

CaseWriter::~CaseWriter() = default;

char* CaseWriter::WriteCell(std::size_t column, const char* value, char* out) {
  const Column& c = columns_[column];
  if (c.IsString()) return RenderString(value, static_cast<std::size_t>(c.stringWidth), c.format, out);
  const double number = NumberAt(value);
  if (!std::isnan(number)) return RenderNumber(number, c.format, out);
  std::memcpy(out, missing_.data(), missing_.size());
  return out + missing_.size();
}

std::string_view CaseWriter::RenderCell(std::size_t column, const char* value) {
  char* const cell = cell_.data();
  return std::string_view(cell, static_cast<std::size_t>(WriteCell(column, value, cell) - cell));
}

char* CaseWriter::Room(std::size_t bytes) {
  if (rowSize_ + bytes > rowCapacity_) {
    const std::size_t capacity = std::max(2 * rowCapacity_, rowSize_ + bytes + 4096);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (rowSize_ > 0) std::memcpy(grown.get(), row_.get(), rowSize_);
    row_ = std::move(grown);
    rowCapacity_ = capacity;
  }
  return row_.get() + rowSize_;
}

void CaseWriter::Append(std::string_view text) {
  char* const at = Room(text.size());
  std::memcpy(at, text.data(), text.size());
  rowSize_ += text.size();
}

void CaseWriter::FlushRow() {
  if (rowSize_ == 0) return;
  fwrite_unlocked(row_.get(), 1, rowSize_, out_);
  rowSize_ = 0;
}

void CaseWriter::FlushLine() {
  Append("\n");
  FlushRow();
}

void CaseWriter::TrimRow() {
  while (rowSize_ > 0 && row_[rowSize_ - 1] == ' ') --rowSize_;
}

std::size_t DisplayWidth(std::string_view text) {
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
  // number in a format that shows no comma (in CSV), with a missing text
  // that needs no escaping either.
  bool NeverEscaped(const Column& c) const {
    if (c.IsString() || NeedsEscaping(missing_)) return false;
    return separator_ != ',' || (c.format.type != kFmtCOMMA && c.format.type != kFmtDOT && c.format.type != kFmtDOLLAR);
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
// JSON string; missing values are null.
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
    if (std::isinf(number) || IsDateTimeFormat(c.format.type)) return AppendText(RenderCell(column, value), out);
    return AppendJsonNumber(number, c.format.type == kFmtE, c.format.decimals, out);
  }

  static char* AppendText(std::string_view text, char* out) { return AppendJsonString(text.data(), text.size(), out); }

  std::vector<std::string> keys_;  // each name as a JSON string and its colon
};

// Aligned columns for people: numbers right-aligned in their format's width,
// strings left-aligned and cut to kMaxStringColumn characters, missing
// values shown as ".". The widths come from the formats, so the table
// streams without looking ahead.
class TableWriter : public CaseWriter {
 public:
  static constexpr std::size_t kMaxStringColumn = 32;

  TableWriter(std::FILE* out, std::vector<Column> columns, WriterSettings settings)
      : CaseWriter(out, std::move(columns), WithTableMissing(std::move(settings))) {
    for (const Column& c : columns_) {
      std::size_t width = c.IsString() ? std::min<std::size_t>(static_cast<std::size_t>(c.format.width), kMaxStringColumn)
                                       : std::max(static_cast<std::size_t>(c.format.width), DisplayWidth(missing_));
      widths_.push_back(std::max(width, DisplayWidth(c.name)));
    }
  }

  void WriteHeader() override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, columns_[i].name);
    TrimmedLine();
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, std::string(widths_[i], '-'));
    TrimmedLine();
  }

  void WriteCase(const CaseValues& values) override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, CutToWidth(i, RenderCell(i, values[i])));
    TrimmedLine();
  }

 private:
  static WriterSettings WithTableMissing(WriterSettings settings) {
    if (!settings.missing) settings.missing = ".";
    return settings;
  }

  // Keeps widths_ - 1 characters and marks the cut with an ellipsis.
  std::string_view CutToWidth(std::size_t column, std::string_view text) {
    if (DisplayWidth(text) <= widths_[column]) return text;
    std::size_t kept = 0, bytes = 0;
    while (bytes < text.size()) {
      std::size_t next = bytes + 1;
      while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
      if (kept + 1 >= widths_[column]) break;
      ++kept;
      bytes = next;
    }
    cut_.assign(text.data(), bytes);
    cut_ += "\xE2\x80\xA6";
    return cut_;
  }

  void AppendAligned(std::size_t column, std::string_view text) {
    if (column > 0) Append("  ");
    const std::size_t width = DisplayWidth(text);
    const std::size_t pad = width < widths_[column] ? widths_[column] - width : 0;
    const bool left = columns_[column].IsString();
    if (left) Append(text);
    char* const blanks = Room(pad);
    std::memset(blanks, ' ', pad);
    Advance(blanks + pad);
    if (!left) Append(text);
  }

  void TrimmedLine() {
    TrimRow();
    FlushLine();
  }

  std::vector<std::size_t> widths_;
  std::string cut_;
};

// A GitHub Markdown table: the names as its header row, numbers aligned
// right, one row per case. Missing values are empty cells.
class MarkdownWriter : public CaseWriter {
 public:
  using CaseWriter::CaseWriter;

  void WriteHeader() override {
    for (const Column& c : columns_) AppendCell(c.name);
    EndRow();
    for (const Column& c : columns_) AppendCell(c.IsString() ? "---" : "---:");
    EndRow();
  }

  void WriteCase(const CaseValues& values) override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendCell(RenderCell(i, values[i]));
    EndRow();
  }

 private:
  void AppendCell(std::string_view text) {
    char* at = Room(2 * text.size() + 3);
    std::memcpy(at, "| ", 2);
    Advance(AppendMarkdownCell(text.data(), text.size(), at + 2));
    Append(" ");
  }

  void EndRow() {
    Append("|");
    FlushLine();
  }
};

// The records as the case buffer holds them, column by column: 8-byte
// slots, numbers as doubles in this machine's byte order, strings padded.
// A record is only a few copies: the columns that lie side by side in the
// case buffer are found once (the buffer stays put for a whole pass) and
// copied as one run. Records are gathered into blocks of kBlockBytes before
// the FILE sees them, which then writes each block straight to the
// descriptor; the run flushes the last one.
class RawWriter : public CaseWriter {
 public:
  static constexpr std::size_t kBlockBytes = 1 << 16;
  using CaseWriter::CaseWriter;

  void WriteCase(const CaseValues& values) override {
    if (values != runsFrom_) FindRuns(values);
    char* out = Room(recordBytes_);
    for (const Run& run : runs_) {
      std::memcpy(out, run.first, run.bytes);
      out += run.bytes;
    }
    Advance(out);
    if (RowSize() >= kBlockBytes) FlushRow();
  }

 private:
  struct Run {
    const char* first;
    std::size_t bytes;
  };

  void FindRuns(const CaseValues& values) {
    runsFrom_ = values;
    runs_.clear();
    recordBytes_ = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const std::size_t bytes = columns_[i].SlotBytes();
      if (!runs_.empty() && runs_.back().first + runs_.back().bytes == values[i]) {
        runs_.back().bytes += bytes;
      } else {
        runs_.push_back(Run{values[i], bytes});
      }
      recordBytes_ += bytes;
    }
  }

  CaseValues runsFrom_;  // the addresses the runs were found for
  std::vector<Run> runs_;
  std::size_t recordBytes_ = 0;
};

}  // namespace

std::unique_ptr<CaseWriter> MakeCaseWriter(OutputFormat format, std::FILE* out,
                                           const std::vector<Column>& columns,
                                           const WriterSettings& settings) {
  switch (format) {
    case OutputFormat::kCsv: return std::make_unique<DelimitedWriter>(out, columns, settings, ',');
    case OutputFormat::kTsv: return std::make_unique<DelimitedWriter>(out, columns, settings, '\t');
    case OutputFormat::kJsonl: return std::make_unique<JsonLinesWriter>(out, columns, settings);
    case OutputFormat::kTable: return std::make_unique<TableWriter>(out, columns, settings);
    case OutputFormat::kMarkdown: return std::make_unique<MarkdownWriter>(out, columns, settings);
    case OutputFormat::kRaw: return std::make_unique<RawWriter>(out, columns, settings);
    case OutputFormat::kNone: break;
  }
  return nullptr;
}

}  // namespace dravrun
