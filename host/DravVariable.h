#pragma once
// One variable of a dictionary: a name, a print and a write format, and a
// display width.
#include <string>

#include "host/DravFormat.h"

class DRAV_Variable {
 public:
  using FormatType = DRAV_FormatType;

  // A variable of format type `type`, with that type's plain format
  // (width 8, no decimals; A8 for a string type) until SetFormat.
  explicit DRAV_Variable(int type);
  virtual ~DRAV_Variable();
  DRAV_Variable(const DRAV_Variable&) = delete;
  DRAV_Variable& operator=(const DRAV_Variable&) = delete;

  // Keeps its own copy; also refreshes the upper-case name.
  void SetName(const char* name);
  const char* GetName() const { return name_.c_str(); }
  // The name upper-cased as DRAVMBstrupr_A does it. The pointer stays valid
  // and unchanged while the variable lives, unless SetName is called again.
  const char* GetUpperCaseName() const { return upperName_.c_str(); }

  void SetFormat(FormatType type, int width, int decimals);
  void SetFormat(DRAV_Format format);
  void SetWriteFormat(FormatType type, int width, int decimals);
  void GetFormat(FormatType& type, int& width, int& decimals) const;
  void GetWriteFormat(FormatType& type, int& width, int& decimals) const;

  short GetDisplayWidth() const { return displayWidth_; }
  void SetDisplayWidth(short width) { displayWidth_ = width; }

  bool IsString() const { return DravIsStringFormat(printType_); }

 private:
  std::string name_;
  std::string upperName_;
  int printType_, printWidth_, printDecimals_;
  int writeType_, writeWidth_, writeDecimals_;
  short displayWidth_;
};
