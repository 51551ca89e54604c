#pragma once
// Rebuilds the text of a GET DATA /TYPE = STREAM command from the tokens the
// host hands out after its head: blanks and quotes are put back by fixed
// rules so that the parser reads the command as the user wrote it. Hidden
// from the library's export list; tests and the fuzz target call it.
#include <string>

class DACTokenSource;

namespace drav {
namespace entry {

// Room of the token buffers: a longer token is cut to kTokenBufferSize - 1
// bytes, at a character boundary.
constexpr unsigned int kTokenBufferSize = 1024;

// Takes tokens until `tokens` has no more (the first one without asking)
// and returns the whole command text, head and closing "\n." included.
std::string RebuildCommandText(DACTokenSource& tokens);

}  // namespace entry
}  // namespace drav
