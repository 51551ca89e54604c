// The outputs for people to read: the aligned table and the Markdown table.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/Utf8Text.h"
#include "tools/dravrun/WriterKinds.h"

namespace dravrun {
namespace {

// Aligned columns for people: numbers right-aligned in their format's width,
// strings left-aligned, escaped so that no byte of theirs can break the row
// (see AppendTableCell) and cut to kMaxStringColumn display columns, missing
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
      widths_.push_back(std::max({width, DisplayWidth(c.name), std::size_t{1}}));  // room for "…" at least
    }
    missingWidth_ = DisplayWidth(missing_);
  }

  void WriteHeader() override {
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, columns_[i].name, DisplayWidth(columns_[i].name));
    TrimmedLine();
    for (std::size_t i = 0; i < columns_.size(); ++i) AppendAligned(i, std::string(widths_[i], '-'), widths_[i]);
    TrimmedLine();
  }

  void WriteCase(const CaseValues& values) override {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i].IsString()) {
        AppendStringCell(i, RenderCell(i, values[i]));
      } else {
        // A rendered number is ASCII and never wider than its format, so it
        // needs neither measuring nor cutting; the missing text was measured
        // once, and its column made wide enough for it.
        const bool missing = std::isnan(NumberAt(values[i]));
        const std::string_view text = RenderCell(i, values[i]);
        AppendAligned(i, text, missing ? missingWidth_ : text.size());
      }
    }
    TrimmedLine();
  }

 private:
  // The missing text is the user's: escaped once, like a string cell.
  static WriterSettings WithTableMissing(WriterSettings settings) {
    const std::string missing = settings.missing.value_or(".");
    std::string shown(4 * missing.size(), '\0');
    const TableCell cell = AppendTableCell(missing.data(), missing.size(), SIZE_MAX, &shown[0]);
    shown.resize(static_cast<std::size_t>(cell.end - shown.data()));
    settings.missing = shown;
    return settings;
  }

  // A string value, escaped and cut to its column, is written straight into
  // the row and padded after it.
  void AppendStringCell(std::size_t column, std::string_view text) {
    const std::size_t width = widths_[column];
    char* const out = Separator(column, Room(2 + 4 * text.size() + 3 + width));
    const TableCell cell = AppendTableCell(text.data(), text.size(), width, out);
    std::memset(cell.end, ' ', width - cell.columns);
    Advance(cell.end + (width - cell.columns));
  }

  // The blanks between two columns, before all but the first.
  static char* Separator(std::size_t column, char* out) {
    if (column == 0) return out;
    std::memcpy(out, "  ", 2);
    return out + 2;
  }

  // `text` padded to its column's width; `width` is its display width.
  void AppendAligned(std::size_t column, std::string_view text, std::size_t width) {
    const std::size_t pad = width < widths_[column] ? widths_[column] - width : 0;
    char* out = Separator(column, Room(2 + pad + text.size()));
    const bool left = columns_[column].IsString();
    if (left) out = Copy(text, out);
    std::memset(out, ' ', pad);
    out += pad;
    if (!left) out = Copy(text, out);
    Advance(out);
  }

  static char* Copy(std::string_view text, char* out) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
  }

  void TrimmedLine() {
    TrimRow();
    FlushLine();
  }

  std::vector<std::size_t> widths_;
  std::size_t missingWidth_ = 0;
};

// A GitHub Markdown table: the names as its header row, numbers aligned
// right, one row per case, cells escaped as in the aligned table (and "|"
// as "\|"). Missing values are empty cells.
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
    char* at = Room(4 * text.size() + 3);
    std::memcpy(at, "| ", 2);
    Advance(AppendMarkdownCell(text.data(), text.size(), at + 2));
    Append(" ");
  }

  void EndRow() {
    Append("|");
    FlushLine();
  }
};

}  // namespace

std::unique_ptr<CaseWriter> MakeTableWriter(std::FILE* out, const std::vector<Column>& columns,
                                            const WriterSettings& settings) {
  return std::make_unique<TableWriter>(out, columns, settings);
}

std::unique_ptr<CaseWriter> MakeMarkdownWriter(std::FILE* out, const std::vector<Column>& columns,
                                               const WriterSettings& settings) {
  return std::make_unique<MarkdownWriter>(out, columns, settings);
}

}  // namespace dravrun
