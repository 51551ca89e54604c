#pragma once
// Writes cases to standard output in one of dravrun's output formats.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/dravrun/Columns.h"
#include "tools/dravrun/Options.h"

namespace dravrun {

// Renders each case into a line buffer that is reused, so writing a case
// allocates nothing once the buffers have grown.
class CaseWriter {
 public:
  // `out` is not owned and must outlive the writer.
  CaseWriter(std::FILE* out, std::vector<Column> columns);
  virtual ~CaseWriter();
  CaseWriter(const CaseWriter&) = delete;
  CaseWriter& operator=(const CaseWriter&) = delete;

  // The header (names) before the first case; some formats have none.
  virtual void WriteHeader() {}
  virtual void WriteCase(const CaseValues& values) = 0;

 protected:
  // Renders column `column`'s value with its print format into `cell_`.
  void RenderCell(std::size_t column, const char* value);
  void FlushLine();

  std::FILE* out_;
  std::vector<Column> columns_;
  std::string cell_;
  std::string line_;
};

// The writer for `format`; null for OutputFormat::kNone.
std::unique_ptr<CaseWriter> MakeCaseWriter(OutputFormat format, std::FILE* out,
                                           const std::vector<Column>& columns);

// Display width of UTF-8 text: one per character (continuation bytes and
// invalid bytes aside, every byte that starts a character counts one).
std::size_t DisplayWidth(const std::string& text);

}  // namespace dravrun
