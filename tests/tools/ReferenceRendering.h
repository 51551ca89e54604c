#pragma once
// The printf-based rendering dravrun used before its renderers were
// rewritten on std::to_chars, kept only so that tests can compare the two.
#include <string>

#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace reference {

void RenderNumber(double value, const PrintFormat& format, std::string& out);
void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out);

}  // namespace reference
}  // namespace dravrun
