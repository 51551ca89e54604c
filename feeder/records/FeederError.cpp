#include "dravfeed/FeederError.h"

#include <cstring>

namespace drav {
namespace feed {

FeederError SystemError(const std::string& what, int error) {
  return FeederError(what + ": " + std::strerror(error));
}

}  // namespace feed
}  // namespace drav
