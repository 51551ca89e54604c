// What a cell shows: display widths of UTF-8 text, the escaping and
// cutting that keep every row of a table on one line and aligned, and JSON
// strings that are valid UTF-8 whatever the bytes.
#include <gtest/gtest.h>

#include <string>

#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/Utf8Text.h"

namespace dravrun {
namespace {

TEST(DisplayWidth, WideCharactersTakeTwoColumnsAndCombiningMarksNone) {
  const struct {
    const char* text;
    std::size_t columns;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"\xc3\xa9", 1},                          // é, precomposed
      {"e\xcc\x81", 1},                         // e and a combining acute accent
      {"\xe6\x97\xa5\xe6\x9c\xac", 4},          // 日本
      {"\xed\x95\x9c", 2},                      // 한, a Hangul syllable
      {"\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab", 2},  // the same, as conjoining jamo
      {"\xef\xbc\xa1", 2},                      // Ａ, fullwidth
      {"\xef\xbd\xb6", 1},                      // ｶ, halfwidth katakana
      {"\xe3\x80\x80", 2},                      // the ideographic space
      {"\xf0\x9f\x98\x80", 2},                  // 😀
      {"\xf0\xa0\x80\x80", 2},                  // an ideograph beyond the BMP
      {"a\xe2\x80\x8b" "b", 2},                 // a zero-width space between
      {"\xe0\xa4\x95\xe0\xa5\x8d", 1},          // क and a virama
      {"\xff" "a\x80", 3},                      // bytes that are not UTF-8 count one each
      {"\xe6\x97", 2},                          // a wide character cut short
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.columns) << c.text;
}

std::string TableCellText(const std::string& text, std::size_t maxColumns, std::size_t& columns) {
  std::string out(4 * text.size() + 3, '?');
  const TableCell cell = AppendTableCell(text.data(), text.size(), maxColumns, &out[0]);
  columns = cell.columns;
  out.resize(static_cast<std::size_t>(cell.end - out.data()));
  return out;
}

TEST(TableCell, ControlCharactersAreEscapedAndLongTextIsCutBetweenCharacters) {
  const struct {
    const char* text;
    std::size_t maxColumns;
    const char* shown;
    std::size_t columns;
  } cases[] = {
      {"a\tb", 32, "a\\tb", 4},
      {"two\nlines\r", 32, "two\\nlines\\r", 12},
      {"C:\\temp", 32, "C:\\\\temp", 8},
      {"\x1b[31mred", 32, "\\x1b[31mred", 11},
      {"nul\x01\x7f", 32, "nul\\x01\\x7f", 11},
      {"\xc2\x9b" "2J", 32, "\\xc2\\x9b2J", 10},  // a C1 control (CSI) shows its bytes
      {"caf\xe9", 32, "caf\\xe9", 7},             // Latin-1, not UTF-8
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 32, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 6},
      {"abcd", 4, "abcd", 4},                     // fits exactly: no cut
      {"abcde", 4, "abc\xe2\x80\xa6", 4},
      {"ab\tcd", 4, "ab\xe2\x80\xa6", 3},         // an escape is not cut in two
      {"a\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4, "a\xe6\x97\xa5\xe2\x80\xa6", 4},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 5, "\xe6\x97\xa5\xe6\x9c\xac\xe2\x80\xa6", 5},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4, "\xe6\x97\xa5\xe2\x80\xa6", 3},  // a wide one is not split
      {"e\xcc\x81" "e\xcc\x81" "e\xcc\x81" "e\xcc\x81", 3, "e\xcc\x81" "e\xcc\x81\xe2\x80\xa6", 3},
      {"xy", 1, "\xe2\x80\xa6", 1},
  };
  for (const auto& c : cases) {
    std::size_t columns = 0;
    EXPECT_EQ(TableCellText(c.text, c.maxColumns, columns), c.shown) << c.text;
    EXPECT_EQ(columns, c.columns) << c.text;
  }
}

TEST(TableCell, MarkdownCellsEscapeControlsAndPipesAndAreNeverCut) {
  const std::string text = "a|b\r\n\\\x1b " + std::string(40, 'x');
  std::string out(4 * text.size(), '?');
  out.resize(static_cast<std::size_t>(AppendMarkdownCell(text.data(), text.size(), &out[0]) - out.data()));
  EXPECT_EQ(out, "a\\|b\\r\\n\\\\\\x1b " + std::string(40, 'x'));
}

TEST(TextEscape, JsonStringsAreAlwaysValidUtf8) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"tab\tnew\nline\\", "\"tab\\tnew\\nline\\\\\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"bad\xff", "\"bad\\ufffd\""},
      {"cut\xc3", "\"cut\\ufffd\""},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate is not UTF-8
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},              // nor an overlong form
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonString(c.in, out);
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
}  // namespace dravrun
