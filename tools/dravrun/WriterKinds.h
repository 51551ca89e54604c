#pragma once
// The writers behind MakeCaseWriter, one family a file: TextWriters.cpp,
// TableWriters.cpp and RawWriter.cpp. Only CaseWriter.cpp needs them.
#include <cstdio>
#include <memory>
#include <vector>

#include "tools/dravrun/CaseWriter.h"

namespace dravrun {

// CSV with `separator` ',', TSV with a tab.
std::unique_ptr<CaseWriter> MakeDelimitedWriter(std::FILE* out, const std::vector<Column>& columns,
                                                const WriterSettings& settings, char separator);
std::unique_ptr<CaseWriter> MakeJsonLinesWriter(std::FILE* out, const std::vector<Column>& columns,
                                                const WriterSettings& settings);
std::unique_ptr<CaseWriter> MakeTableWriter(std::FILE* out, const std::vector<Column>& columns,
                                            const WriterSettings& settings);
std::unique_ptr<CaseWriter> MakeMarkdownWriter(std::FILE* out, const std::vector<Column>& columns,
                                               const WriterSettings& settings);
// Raw records have no missing text to spell.
std::unique_ptr<CaseWriter> MakeRawWriter(std::FILE* out, const std::vector<Column>& columns);

}  // namespace dravrun
