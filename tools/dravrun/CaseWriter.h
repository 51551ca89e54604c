#pragma once
// Writes cases to standard output in one of dravrun's output formats.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dravrun/Columns.h"
#include "tools/dravrun/Options.h"

namespace dravrun {

// What the command line changes in how a writer spells a case.
struct WriterSettings {
  // How a missing numeric value is written; unset: the format's own
  // spelling (empty in CSV, TSV and Markdown, "." in the table).
  std::optional<std::string> missing;
  // Numbers, dates and times as text that reads back to the same double
  // (ExactFormat.h) instead of their print format's rendering.
  bool exact = false;
};

// Assembles each case in a row buffer that is reused, with every value
// rendered straight into it (no std::string per value), and hands the whole
// row to the FILE, whose own 64 KiB buffer (dravrun's main sets it) goes to
// the descriptor in large writes. Once the buffers have grown, writing a
// case allocates nothing.
class CaseWriter {
 public:
  // `out` is not owned and must outlive the writer.
  CaseWriter(std::FILE* out, std::vector<Column> columns, WriterSettings settings = {});
  virtual ~CaseWriter();
  CaseWriter(const CaseWriter&) = delete;
  CaseWriter& operator=(const CaseWriter&) = delete;

  // The header (names) before the first case; some formats have none.
  virtual void WriteHeader() {}
  virtual void WriteCase(const CaseValues& values) = 0;
  // Hands the FILE whatever the writer still holds: call before flushing or
  // writing anything else to it.
  void Flush() { FlushRow(); }

 protected:
  // Writes column `column`'s value rendered with its print format, or as
  // exact text when the settings ask for it (a missing number as the
  // missing text) at `out`, which has CellRoom()
  // bytes; returns the end.
  char* WriteCell(std::size_t column, const char* value, char* out);
  // The same in a buffer of the writer's own, valid until the next call.
  std::string_view RenderCell(std::size_t column, const char* value);
  // `bytes` bytes of room at the end of the row; Advance marks what was
  // written there.
  char* Room(std::size_t bytes);
  void Advance(char* end) { rowSize_ = static_cast<std::size_t>(end - row_.get()); }
  void Append(std::string_view text);
  // Hands the row to the FILE: FlushLine ends it with a newline first.
  void FlushRow();
  std::size_t RowSize() const { return rowSize_; }
  void FlushLine();
  // Drops trailing blanks from the row.
  void TrimRow();
  // The room any one escaped cell needs, whatever the escaping; and a whole
  // row of them with their names and separators.
  std::size_t CellRoom() const { return 6 * cell_.size() + 8; }
  std::size_t RowRoom() const { return rowRoom_; }

  std::FILE* out_;
  std::vector<Column> columns_;
  std::string missing_;
  bool exact_;

 private:
  std::vector<char> cell_;
  std::size_t rowRoom_ = 0;
  std::unique_ptr<char[]> row_;
  std::size_t rowSize_ = 0;
  std::size_t rowCapacity_ = 0;
};

// The writer for `format`; null for OutputFormat::kNone.
std::unique_ptr<CaseWriter> MakeCaseWriter(OutputFormat format, std::FILE* out,
                                           const std::vector<Column>& columns,
                                           const WriterSettings& settings = {});

}  // namespace dravrun
