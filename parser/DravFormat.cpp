// DRAV_Format's operations. The class is declared with the host because the
// host's variables take it by value; its behaviour belongs to the plug-in.
#include "host/DravFormat.h"

#include <limits>

#include "base/FormatRules.h"

namespace {

// Values outside a field's range are held at its bounds instead of wrapping.
template <typename Field>
Field Clamp(int value) {
  if (value < 0) return 0;
  if (value > std::numeric_limits<Field>::max()) return std::numeric_limits<Field>::max();
  return static_cast<Field>(value);
}

}  // namespace

DRAV_Format::DRAV_Format() : width(0), type(0), decimals(0) {}

DRAV_Format::DRAV_Format(FormatType typeIn, int widthIn, int decimalsIn)
    : width(0), type(0), decimals(0) {
  // Width depends on the type, so the type goes first.
  Type(typeIn);
  Width(Clamp<unsigned short>(widthIn));
  Decimals(Clamp<unsigned char>(decimalsIn));
}

void DRAV_Format::Type(FormatType typeIn) { type = static_cast<std::uint8_t>(typeIn); }

void DRAV_Format::Width(unsigned short widthIn) {
  width = (!IsString() && widthIn > drav::format::kMaxNumericWidth)
              ? static_cast<unsigned short>(drav::format::kMaxNumericWidth)
              : widthIn;
}

void DRAV_Format::Decimals(unsigned char decimalsIn) { decimals = decimalsIn; }

bool DRAV_Format::IsString() const { return DravIsStringFormat(type); }
