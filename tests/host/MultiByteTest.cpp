// The host's UTF-8 string functions: case folding beyond ASCII, byte counts
// that never split a character, and no step past the terminating NUL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/MultiByte.h"

namespace {

struct CompareCase {
  const char* a;
  const char* b;
  bool equal;
};

TEST(MultiByteCompare, IgnoresCaseForAsciiAndOtherLetters) {
  const CompareCase cases[] = {
      {"variables", "VARIABLES", true}, {"Pipe", "pIPE", true},
      {"caf\xC3\xA9", "CAF\xC3\x89", true},            // café / CAFÉ
      {"\xC3\xBC" "ber", "\xC3\x9C" "BER", true},        // über / ÜBER
      {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92", true},   // αβ / ΑΒ
      {"cafe", "caf\xC3\xA9", false},                    // e is not é
      {"abc", "abcd", false}, {"", "", true}, {"", "a", false},
      // A stray Latin-1 byte is not the character é.
      {"caf\xE9", "caf\xC3\xA9", false},
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(DRAVMBstricmp_A(c.a, c.b) == 0, c.equal) << c.a << " vs " << c.b;
    EXPECT_EQ(DRAVMBstricmp_A(c.b, c.a) == 0, c.equal) << c.b << " vs " << c.a;
  }
}

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(MultiByteCompare, SignsAgreeWithASortAndCountsStopWhereTheySay) {
#define CALL(call, sign) {#call, Sign(call), sign}
  const struct {
    const char* call;
    int sign, expected;
  } cases[] = {
      CALL(DRAVMBstricmp_A("abc", "ABD"), -1),
      CALL(DRAVMBstricmp_A("b", "A"), 1),
      CALL(DRAVMBstricmp_A("ab", "ABC"), -1),
      CALL(DRAVMBstrcmp_A("a", "b"), -1),
      CALL(DRAVMBstrcmp_A("b", "a"), 1),
      CALL(DRAVMBstrcmp_A("a", "A"), 1),  // byte for byte
      CALL(DRAVMBstrcmp_A("caf\xC3\xA9", "caf\xC3\xA9"), 0),
      // Counted in characters: two characters of "éa" are three bytes.
      CALL(DRAVMBstrnicmp_A("\xC3\xA9" "aX", "\xC3\x89" "Ay", 2), 0),
      CALL(DRAVMBstrnicmp_A("\xC3\xA9" "aX", "\xC3\x89" "Ay", 3), -1),
      CALL(DRAVMBstrnicmp_A("PIPE=x", "pipe", 4), 0),
      CALL(DRAVMBstrnicmp_A("PIP", "pipe", 4), -1),  // a shorter text differs
      CALL(DRAVMBstrnicmp_A("anything", "else", 0), 0),
      // Counted in bytes, and not case-blind.
      CALL(DRAVMBstrnbcmp_A("/a", "/b", 1), 0),
      CALL(DRAVMBstrnbcmp_A("/a", "/b", 2), -1),
      CALL(DRAVMBstrnbcmp_A("ab", "AB", 2), 1),
  };
#undef CALL
  for (const auto& c : cases) EXPECT_EQ(c.sign, c.expected) << c.call;
}

TEST(MultiByteStep, NeverStepsPastTheTerminatingNul) {
  const char text[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const char* p = text;
  const std::size_t expectedSteps[] = {1, 2, 3, 4};
  for (std::size_t step : expectedSteps) {
    const char* next = DRAVMBstrinc_A(p);
    EXPECT_EQ(static_cast<std::size_t>(next - p), step);
    p = next;
  }
  ASSERT_EQ(*p, '\0');
  EXPECT_EQ(DRAVMBstrinc_A(p), p);
  EXPECT_EQ(DRAVMBstrinc_A(DRAVMBstrinc_A(p)), p);
}

TEST(MultiByteStep, TruncatedSequenceStepsOneByteAndStopsAtNul) {
  // Lead bytes whose continuation is cut by the NUL, and invalid bytes.
  const char* inputs[] = {"\xE2\x82", "\xF0\x9F", "\xC3", "\x80", "\xFF", "\xC0\xAF"};
  for (const char* text : inputs) {
    const char* end = text + std::strlen(text);
    const char* p = text;
    int guard = 0;
    while (*p != '\0' && guard++ < 16) p = DRAVMBstrinc_A(p);
    EXPECT_EQ(p, end) << "input of " << std::strlen(text) << " bytes";
  }
}

struct SpanCase {
  const char* text;
  const char* set;
  std::size_t cspan;
  std::size_t span;
};

TEST(MultiByteSpan, CountsBytesAgainstSetsOfWholeCharacters) {
  const SpanCase cases[] = {
      {"abc def", " \t", 3, 0},
      {"  \tx", " \t", 0, 3},
      {"nothing", "/=", 7, 0},
      {"", " ", 0, 0},
      {"\xC3\xA9\xC3\xA9x", "\xC3\xA9", 0, 4},       // "ééx" with set "é"
      {"ab\xC3\xA9", "\xC3\xA9", 2, 0},
      // "è" (C3 A8) shares its lead byte with "é" but is another character.
      {"\xC3\xA8\xC3\xA9", "\xC3\xA9", 2, 0},
      {"path/to=x", "=/", 4, 0},
  };
  for (const SpanCase& c : cases) {
    EXPECT_EQ(DRAVMBstrcspn_A(c.text, c.set), c.cspan) << c.text;
    EXPECT_EQ(DRAVMBstrspn_A(c.text, c.set), c.span) << c.text;
  }
}

TEST(MultiByteSearch, FindsTheLastAsciiCharacter) {
  const char text[] = "\"a\xC3\xA9\"b\"";
  EXPECT_EQ(DRAVMBstrrchr_A(text, '"'), text + 6);
  EXPECT_EQ(DRAVMBstrrchr_A("none", '"'), nullptr);
  const char plain[] = "abc";
  EXPECT_EQ(DRAVMBstrrchr_A(plain, 0), plain + 3);
}

TEST(MultiByteUpper, UpperCasesInPlaceWithoutChangingTheLength) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"pipe", "PIPE"},
      {"caf\xC3\xA9_1", "CAF\xC3\x89_1"},
      {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92"},
      // ß would grow to SS and ı (2 bytes) to I (1 byte): both are kept.
      {"stra\xC3\x9F" "e", "STRA\xC3\x9F" "E"},
      {"\xC4\xB1x", "\xC4\xB1X"},
      {"a\xFF" "b", "A\xFF" "B"},
  };
  for (const auto& c : cases) {
    std::string buffer(c.in);
    std::size_t before = buffer.size();
    DRAVMBstrupr_A(&buffer[0]);
    EXPECT_EQ(buffer, c.out);
    EXPECT_EQ(buffer.size(), before);
    EXPECT_EQ(std::strlen(buffer.c_str()), before);
  }
}

TEST(MultiByteCopy, CountedCopyStopsAtCountOrNulAndLeavesTheRest) {
  char dst[8];
  std::memset(dst, 'z', sizeof dst);
  DRAVMBstrncpy_A(dst, "abcdef", 3);
  EXPECT_EQ(std::string(dst, 8), "abczzzzz");  // the caller writes the NUL
  std::memset(dst, 'z', sizeof dst);
  DRAVMBstrncpy_A(dst, "ab", 5);
  EXPECT_EQ(std::string(dst, 3), std::string("ab\0", 3));
  EXPECT_EQ(dst[3], 'z');  // nothing written after the NUL

  char whole[8];
  EXPECT_EQ(DRAVMBstrcpy_A(whole, "x\xC3\xA9"), whole);
  EXPECT_STREQ(whole, "x\xC3\xA9");
}

}  // namespace
