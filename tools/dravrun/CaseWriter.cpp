#include "tools/dravrun/CaseWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/dravrun/ExactFormat.h"
#include "tools/dravrun/WriterKinds.h"

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
      exact_(settings.exact),
      cell_(CellCapacity(columns_, missing_)) {
  rowRoom_ = 16;
  for (const Column& c : columns_) rowRoom_ += CellRoom() + 6 * c.name.size() + 8;
}

CaseWriter::~CaseWriter() = default;

char* CaseWriter::WriteCell(std::size_t column, const char* value, char* out) {
  const Column& c = columns_[column];
  if (c.IsString()) return RenderString(value, static_cast<std::size_t>(c.stringWidth), c.format, out);
  const double number = NumberAt(value);
  if (!std::isnan(number)) return exact_ ? RenderExact(number, c.format.type, out) : RenderNumber(number, c.format, out);
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

std::unique_ptr<CaseWriter> MakeCaseWriter(OutputFormat format, std::FILE* out,
                                           const std::vector<Column>& columns,
                                           const WriterSettings& settings) {
  switch (format) {
    case OutputFormat::kCsv: return MakeDelimitedWriter(out, columns, settings, ',');
    case OutputFormat::kTsv: return MakeDelimitedWriter(out, columns, settings, '\t');
    case OutputFormat::kJsonl: return MakeJsonLinesWriter(out, columns, settings);
    case OutputFormat::kTable: return MakeTableWriter(out, columns, settings);
    case OutputFormat::kMarkdown: return MakeMarkdownWriter(out, columns, settings);
    case OutputFormat::kRaw: return MakeRawWriter(out, columns);
    case OutputFormat::kNone: break;
  }
  return nullptr;
}

}  // namespace dravrun
