#pragma once
// Quoting and escaping of fields for the text output formats.
//
// Each rule has two forms: one that writes at a raw pointer, which the case
// writers use for every value (the caller provides the room the comment
// names), and one that appends to a std::string, built on the first.
#include <cstddef>
#include <string>

namespace dravrun {

// RFC 4180: a field holding a comma, a double quote, CR or LF is put in
// double quotes, with each double quote doubled. Room: 2 * length + 2.
char* AppendCsvField(const char* text, std::size_t length, char* out);
// TSV has no quoting: backslash, tab, CR and LF become \\, \t, \r and \n.
// Room: 2 * length.
char* AppendTsvField(const char* text, std::size_t length, char* out);
// A JSON string literal. Bytes that are not valid UTF-8 become U+FFFD, so
// every line is valid JSON whatever the feeder sent. Room: 6 * length + 2.
char* AppendJsonString(const char* text, std::size_t length, char* out);
void AppendJsonString(const std::string& text, std::string& out);
// A finite number as a JSON number: `scientific` in E notation, else fixed,
// both with `decimals` decimals (at most 40). Room: kMaxJsonNumber.
constexpr std::size_t kMaxJsonNumber = 512;
char* AppendJsonNumber(double value, bool scientific, int decimals, char* out);
void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out);
// A cell of the aligned table, at most `maxColumns` display columns wide.
// Backslash, tab, CR and LF are escaped as in TSV; the bytes of any other
// control character (C0, DEL, C1) and bytes that are not UTF-8 become \xHH
// (lower-case hex), so a cell never breaks its row or moves the cursor. A
// longer text is cut between characters (an escape is one character) and
// ends with "…". Room: 4 * length + 3.
struct TableCell {
  char* end;            // the end of what was written
  std::size_t columns;  // its display width, at most maxColumns
};
TableCell AppendTableCell(const char* text, std::size_t length, std::size_t maxColumns, char* out);
// A GitHub Markdown table cell: "|" is escaped as "\|", everything else as
// in the aligned table (uncut). Room: 4 * length.
char* AppendMarkdownCell(const char* text, std::size_t length, char* out);

}  // namespace dravrun
