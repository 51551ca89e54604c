#include "tools/dravrun/Utf8Text.h"

#include <algorithm>
#include <iterator>

namespace dravrun {
namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// Combining marks (diacritics of Latin, Greek, Cyrillic, Hebrew, Arabic,
// Devanagari and Thai, the general combining blocks), the Hangul vowels and
// finals that join the syllable before them, and the invisible format
// characters. Sorted, not overlapping.
constexpr CodePointRange kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D}, {0x0951, 0x0957},
    {0x0962, 0x0963}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1160, 0x11FF},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064},
    {0x20D0, 0x20FF}, {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

// East Asian wide and fullwidth characters: Hangul initials and syllables,
// the CJK radicals, punctuation, kana and ideographs, Yi, the fullwidth
// forms, and the pictograph blocks terminals draw two columns wide.
constexpr CodePointRange kWide[] = {
    {0x1100, 0x115F},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <std::size_t N>
bool InRanges(const CodePointRange (&ranges)[N], char32_t codePoint) {
  const CodePointRange* const after = std::upper_bound(
      std::begin(ranges), std::end(ranges), codePoint,
      [](char32_t c, const CodePointRange& range) { return c < range.first; });
  return after != std::begin(ranges) && codePoint <= (after - 1)->last;
}

}  // namespace

std::size_t DecodeUtf8(const char* text, std::size_t size, std::size_t i, char32_t& codePoint) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  char32_t minimum;
  char32_t decoded;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) { length = 2; minimum = 0x80; decoded = lead & 0x1F; }
  else if ((lead & 0xF0) == 0xE0) { length = 3; minimum = 0x800; decoded = lead & 0x0F; }
  else if ((lead & 0xF8) == 0xF0) { length = 4; minimum = 0x10000; decoded = lead & 0x07; }
  else return 0;
  if (i + length > size) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    decoded = (decoded << 6) | (next & 0x3F);
  }
  const bool surrogate = decoded >= 0xD800 && decoded <= 0xDFFF;
  if (decoded < minimum || decoded > 0x10FFFF || surrogate) return 0;
  codePoint = decoded;
  return length;
}

std::size_t CodePointColumns(char32_t codePoint) {
  if (codePoint < 0x300) return 1;  // ASCII and Latin-1: no table look-up
  if (InRanges(kZeroWidth, codePoint)) return 0;
  return InRanges(kWide, codePoint) ? 2 : 1;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text.data(), text.size(), i, codePoint);
    width += length == 0 ? 1 : CodePointColumns(codePoint);
    i += length == 0 ? 1 : length;
  }
  return width;
}

}  // namespace dravrun
