#pragma once
// Small text helpers shared by the parser's files. Internal to the plug-in.
#include <cstddef>

namespace parser_text {

// White space of the command text.
constexpr const char* kBlanks = " \t\r\n";
constexpr const char* kDigits = "1234567890";

// The longest prefix of the `length` bytes at `src` that fits in `limit`
// bytes without splitting a character.
std::size_t CutAtCharBoundary(const char* src, std::size_t length, std::size_t limit);

// Copies `length` bytes of `src` into `dest`, which has room for `capacity`
// bytes, and terminates it. Over-long text is cut at a character boundary so
// that the buffer is never written past; nothing is written when `capacity`
// is 0.
void CopyCut(char* dest, std::size_t capacity, const char* src, std::size_t length);

// The value of the leading integer of `text`, as atoi reads it, but a value
// beyond the range of int is held at INT_MAX or INT_MIN instead of wrapping.
int ReadInt(const char* text);

}  // namespace parser_text
