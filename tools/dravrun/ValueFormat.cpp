#include "tools/dravrun/ValueFormat.h"

#include <cmath>

#include "host/DravFormat.h"

namespace dravrun {
namespace {

// Widths and decimals outside what the command accepts are brought into a
// range the renderers can always honour.
PrintFormat Sane(const PrintFormat& format) {
  PrintFormat f = format;
  if (f.width < 1) f.width = 1;
  if (f.width > 255) f.width = 255;
  if (f.decimals < 0) f.decimals = 0;
  if (f.decimals > 16) f.decimals = 16;
  return f;
}

struct FormatNameRow {
  int type;
  const char* keyword;
};

// Keywords by code, for showing a dictionary; the parser keeps its own table
// the other way round, from keyword to code.
const FormatNameRow kFormatNames[] = {
    {kFmtA, "A"},         {kFmtAHEX, "AHEX"},     {kFmtCOMMA, "COMMA"}, {kFmtDOLLAR, "DOLLAR"},
    {kFmtF, "F"},         {kFmtN, "N"},           {kFmtE, "E"},         {kFmtDATE, "DATE"},
    {kFmtTIME, "TIME"},   {kFmtDATETIME, "DATETIME"}, {kFmtADATE, "ADATE"}, {kFmtJDATE, "JDATE"},
    {kFmtDTIME, "DTIME"}, {kFmtWKDAY, "WKDAY"},   {kFmtMONTH, "MONTH"}, {kFmtMOYR, "MOYR"},
    {kFmtQYR, "QYR"},     {kFmtWKYR, "WKYR"},     {kFmtPCT, "PCT"},     {kFmtDOT, "DOT"},
    {kFmtEDATE, "EDATE"}, {kFmtSDATE, "SDATE"},   {kFmtMTIME, "MTIME"}, {kFmtYMDHMS, "YMDHMS"},
};

char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

}  // namespace

bool IsStringFormat(int type) { return DravIsStringFormat(type); }

bool IsDateTimeFormat(int type) {
  switch (type) {
    case kFmtDATE: case kFmtTIME: case kFmtDATETIME: case kFmtADATE: case kFmtJDATE:
    case kFmtDTIME: case kFmtWKDAY: case kFmtMONTH: case kFmtMOYR: case kFmtQYR:
    case kFmtWKYR: case kFmtEDATE: case kFmtSDATE: case kFmtMTIME: case kFmtYMDHMS:
      return true;
    default:
      return false;
  }
}

void RenderNumber(double value, const PrintFormat& format, std::string& out) {
  const PrintFormat f = Sane(format);
  if (std::isnan(value)) {
    out.clear();
  } else if (std::isinf(value)) {
    out = value > 0 ? "Inf" : "-Inf";
    if (static_cast<int>(out.size()) > f.width) detail::Asterisks(f.width, out);
  } else if (IsDateTimeFormat(f.type)) {
    detail::RenderDateTime(value, f, out);
  } else {
    detail::RenderPlainNumber(value == 0 ? 0.0 : value, f, out);  // no "-0"
  }
}

void RenderString(const char* bytes, std::size_t length, const PrintFormat& format, std::string& out) {
  out.clear();
  if (format.type == kFmtAHEX) {
    for (std::size_t i = 0; i < length; ++i) {
      const unsigned byte = static_cast<unsigned char>(bytes[i]);
      out += HexDigit(byte >> 4);
      out += HexDigit(byte);
    }
    return;
  }
  // C feeders often pad with NULs rather than blanks: both count as padding.
  while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
  out.assign(bytes, length);
}

std::string FormatName(const PrintFormat& format) {
  std::string name;
  for (const FormatNameRow& row : kFormatNames) {
    if (row.type == format.type) name = row.keyword;
  }
  if (name.empty()) name = "FORMAT" + std::to_string(format.type) + ":";
  name += std::to_string(format.width);
  if (format.decimals > 0) name += "." + std::to_string(format.decimals);
  return name;
}

}  // namespace dravrun
