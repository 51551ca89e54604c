#pragma once
// Format type codes and the format value shared by the host and the plug-in.
//
// DRAV_Format is declared here because the host's DRAV_Variable takes it by
// value; its operations are defined by the plug-in (libdravstream), which
// exports the class. The host itself only reads the three public fields, so
// libdravhost links without the plug-in.
#include <cstdint>

#include "host/DravExport.h"

// The host's numeric format type codes. Codes 1 and 2 are string formats,
// every other code is numeric. Values outside this list may still occur (a
// code is any int); kUnset marks a format not yet recognised.
enum DRAV_FormatType : int {
  kFmtA = 1,
  kFmtAHEX = 2,
  kFmtCOMMA = 3,
  kFmtDOLLAR = 4,
  kFmtF = 5,
  kFmtUnset = 6,
  kFmtN = 16,
  kFmtE = 17,
  kFmtDATE = 20,
  kFmtTIME = 21,
  kFmtDATETIME = 22,
  kFmtADATE = 23,
  kFmtJDATE = 24,
  kFmtDTIME = 25,
  kFmtWKDAY = 26,
  kFmtMONTH = 27,
  kFmtMOYR = 28,
  kFmtQYR = 29,
  kFmtWKYR = 30,
  kFmtPCT = 31,
  kFmtDOT = 32,
  kFmtEDATE = 38,
  kFmtSDATE = 39,
  kFmtMTIME = 85,
  kFmtYMDHMS = 86,
};

inline bool DravIsStringFormat(int type) { return type == kFmtA || type == kFmtAHEX; }

// A format value: width, type code, decimals. The field order and widths are
// fixed because the value is passed by value across the host boundary.
class DRAV_EXPORT DRAV_Format {
 public:
  using FormatType = DRAV_FormatType;

  DRAV_Format();
  // Calls Type, Width and Decimals in this order (Width depends on the type).
  DRAV_Format(FormatType type, int width, int decimals);

  void Type(FormatType type);
  // A width above 40 becomes 40 unless the format is a string format.
  void Width(unsigned short width);
  void Decimals(unsigned char decimals);
  bool IsString() const;

  std::uint16_t width;
  std::uint8_t type;
  std::uint8_t decimals;
};
static_assert(sizeof(DRAV_Format) == 4, "DRAV_Format crosses the host boundary by value");
