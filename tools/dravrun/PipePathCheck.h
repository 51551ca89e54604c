#pragma once
// A look at what the command's /PIPE path names, before the plug-in is
// loaded. The plug-in opens whatever is there: a folder gives an empty
// stream, and a regular file (the CSV file itself, say) has its bytes taken
// for records. Neither is what the user meant.
#include <cstdio>
#include <vector>

#include "host/CommandTokenizer.h"

namespace dravrun {

// False, with a message on `err`, when the path names a folder; a warning on
// `err` when it names a regular file. A path that does not exist yet is
// left to the plug-in, which waits for the feeder to make it.
bool PipePathCanBeRead(const std::vector<CommandToken>& tokens, std::FILE* err);

}  // namespace dravrun
