#include "feeder/FeederError.h"

#include <cerrno>
#include <cstring>

namespace drav {
namespace feed {

std::string ErrnoText(int error) { return std::strerror(error); }

void ThrowSystemError(const std::string& what) {
  int error = errno;
  throw FeederError(what + ": " + ErrnoText(error));
}

}  // namespace feed
}  // namespace drav
