#pragma once
// UTF-8 text as a terminal lays it out: how to step through its characters
// and how many columns each one takes.
#include <cstddef>
#include <string_view>

namespace dravrun {

// The valid UTF-8 sequence that starts at text[i] (i < size): its length,
// with its code point in `codePoint`; 0 when the bytes there are not one
// (overlong, surrogate, beyond U+10FFFF, cut short or a stray byte).
std::size_t DecodeUtf8(const char* text, std::size_t size, std::size_t i, char32_t& codePoint);

// Columns a terminal gives a code point: 0 for combining marks and other
// zero-width characters, 2 for East Asian wide and fullwidth ones, else 1.
// The ranges are the main blocks of each kind, kept in a table of our own;
// a rare character outside them counts 1.
std::size_t CodePointColumns(char32_t codePoint);

// Display width of UTF-8 text: the sum of its characters' columns; a byte
// that starts no valid character counts 1 (a terminal shows it as U+FFFD).
std::size_t DisplayWidth(std::string_view text);

}  // namespace dravrun
