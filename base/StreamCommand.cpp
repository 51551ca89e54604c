#include "base/StreamCommand.h"

#include <cstddef>

#include "base/Utf8.h"

namespace drav {
namespace command {

Subcommand SubcommandNamed(const char* word) {
  static const struct {
    const char* name;
    Subcommand subcommand;
  } kNames[] = {{"PIPE", Subcommand::kPipe},         {"SOCKET", Subcommand::kSocket},
                {"HOST", Subcommand::kHost},         {"REWINDABLE", Subcommand::kRewindable},
                {"SEEKABLE", Subcommand::kSeekable}, {"VARIABLES", Subcommand::kVariables}};
  for (const auto& known : kNames) {
    if (utf8::CompareIgnoringCase(word, known.name, static_cast<std::size_t>(-1)) == 0) return known.subcommand;
  }
  return Subcommand::kNone;
}

}  // namespace command
}  // namespace drav
