#pragma once
// Quoting and escaping of fields for the text output formats.
#include <string>

namespace dravrun {

// RFC 4180: a field holding a comma, a double quote, CR or LF is put in
// double quotes, with each double quote doubled.
void AppendCsvField(const std::string& text, std::string& out);
// TSV has no quoting: backslash, tab, CR and LF become \\, \t, \r and \n.
void AppendTsvField(const std::string& text, std::string& out);
// A JSON string literal. Bytes that are not valid UTF-8 become U+FFFD, so
// every line is valid JSON whatever the feeder sent.
void AppendJsonString(const std::string& text, std::string& out);
// A finite number as a JSON number: `scientific` in E notation, else fixed,
// both with `decimals` decimals.
void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out);

}  // namespace dravrun
