// Scanning primitives of StreamParser: every parsing operation reads the
// command text through these. Words that do not fit their buffer are cut at
// a character boundary, and the scan position still moves past the whole
// word, so an over-long word is consumed as one word.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/MultiByte.h"
#include "parser/ParserText.h"
#include "parser/StreamParser.h"

using parser_text::CopyCut;
using parser_text::kBlanks;
using parser_text::kDigits;

namespace {

// Room for ParseInt's digits and ParseNumber's word.
constexpr std::size_t kIntBufferSize = 256;
constexpr std::size_t kNumberBufferSize = 128;

// Reads the word at `p` (after blanks) into `dest` and moves `p` past it and
// one character more.
void TakeWord(char*& p, char* dest, std::size_t size) {
  p += DRAVMBstrspn_A(p, kBlanks);
  std::size_t length = DRAVMBstrcspn_A(p, kBlanks);
  CopyCut(dest, size, p, length);
  p = DRAVMBstrinc_A(p + length);
}

}  // namespace

void StreamParser::SkipWhiteSpace() { SkipWhiteSpace(scanPos); }

void StreamParser::SkipWhiteSpace(char*& p) { p += DRAVMBstrspn_A(p, kBlanks); }

void StreamParser::ParseWord(char* dest, unsigned int size) { TakeWord(scanPos, dest, size); }

void StreamParser::GetNextWord(char*& p, char* dest) { TakeWord(p, dest, kBufferSize); }

void StreamParser::StripSpaces(char* s) {
  std::size_t length = std::strlen(s);
  std::vector<char> copy(s, s + length + 1);
  char* p = copy.data();
  p += DRAVMBstrspn_A(p, kBlanks);
  std::size_t wordLength = DRAVMBstrcspn_A(p, kBlanks);
  // The first word is never longer than `s` itself, so it fits.
  CopyCut(s, length + 1, p, wordLength);
}

void StreamParser::ParseDelims(char* dest, unsigned int size) {
  std::size_t length = DRAVMBstrcspn_A(scanPos, "\r\n");
  CopyCut(dest, size, scanPos, length);
  scanPos = DRAVMBstrinc_A(scanPos + length);
}

long StreamParser::ParseInt() {
  SkipWhiteSpace();
  std::size_t length = DRAVMBstrspn_A(scanPos, kDigits);
  // A run of more than 255 digits keeps its first 255; the value saturates
  // long before that.
  char digits[kIntBufferSize];
  CopyCut(digits, sizeof digits, scanPos, length);
  scanPos = DRAVMBstrinc_A(scanPos + length);
  return parser_text::ReadInt(digits);
}

double StreamParser::ParseNumber() {
  // A word of more than 127 bytes is read from its first 127.
  char word[kNumberBufferSize];
  TakeWord(scanPos, word, sizeof word);
  return std::atof(word);
}

void StreamParser::GetNextInt(char* p, int& out) {
  SkipWhiteSpace(p);
  out = parser_text::ReadInt(p);
}
