#include "tools/dravrun/PipePathCheck.h"

#include <sys/stat.h>

#include <string>

#include "base/StreamCommand.h"
#include "host/DACAdapter.h"

namespace dravrun {
namespace {

// The plug-in takes the one token after "PIPE =" as the path, up to a
// single quote (it rebuilds the value in single quotes).
bool FindPipePath(const std::vector<CommandToken>& tokens, std::string& path) {
  for (std::size_t i = 0; i + 2 < tokens.size(); ++i) {
    const bool subcommand = i == 0 || tokens[i - 1].kind == DACTokenSource::kSlash;
    if (subcommand && tokens[i].kind == DACTokenSource::kWord &&
        drav::command::SubcommandNamed(tokens[i].text.c_str()) == drav::command::Subcommand::kPipe &&
        tokens[i + 1].kind == DACTokenSource::kEquals) {
      path = tokens[i + 2].text.substr(0, tokens[i + 2].text.find('\''));
      return !path.empty();
    }
  }
  return false;
}

}  // namespace

bool PipePathCanBeRead(const std::vector<CommandToken>& tokens, std::FILE* err) {
  std::string path;
  struct stat st {};
  if (!FindPipePath(tokens, path) || stat(path.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    std::fprintf(err, "dravrun: /PIPE names the folder %s, not a named pipe\n", path.c_str());
    return false;
  }
  if (S_ISREG(st.st_mode))
    std::fprintf(err, "warning: /PIPE names %s, a regular file, not a named pipe: its bytes are read as records\n",
                 path.c_str());
  return true;
}

}  // namespace dravrun
