#include "host/DravVariable.h"

#include <vector>

#include "host/MultiByte.h"

namespace {
// A new variable shows its values in 8 columns until told otherwise.
constexpr short kDefaultDisplayWidth = 8;
constexpr int kDefaultWidth = 8;
}  // namespace

DRAV_Variable::DRAV_Variable(int type)
    : printType_(type),
      printWidth_(kDefaultWidth),
      printDecimals_(0),
      writeType_(type),
      writeWidth_(kDefaultWidth),
      writeDecimals_(0),
      displayWidth_(kDefaultDisplayWidth) {}

DRAV_Variable::~DRAV_Variable() = default;

void DRAV_Variable::SetName(const char* name) {
  name_ = name ? name : "";
  std::vector<char> upper(name_.begin(), name_.end());
  upper.push_back('\0');
  DRAVMBstrupr_A(upper.data());
  upperName_ = upper.data();
}

void DRAV_Variable::SetFormat(FormatType type, int width, int decimals) {
  printType_ = type;
  printWidth_ = width;
  printDecimals_ = decimals;
}

void DRAV_Variable::SetFormat(DRAV_Format format) {
  SetFormat(static_cast<FormatType>(format.type), format.width, format.decimals);
}

void DRAV_Variable::SetWriteFormat(FormatType type, int width, int decimals) {
  writeType_ = type;
  writeWidth_ = width;
  writeDecimals_ = decimals;
}

void DRAV_Variable::GetFormat(FormatType& type, int& width, int& decimals) const {
  type = static_cast<FormatType>(printType_);
  width = printWidth_;
  decimals = printDecimals_;
}

void DRAV_Variable::GetWriteFormat(FormatType& type, int& width, int& decimals) const {
  type = static_cast<FormatType>(writeType_);
  width = writeWidth_;
  decimals = writeDecimals_;
}
