#pragma once
// The message of the InputError that `action` throws, or "accepted".
#include <functional>
#include <string>

#include "dravfeed/FeederError.h"

namespace drav {
namespace feed {

inline std::string InputErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const InputError& error) {
    return error.what();
  }
  return "accepted";
}

}  // namespace feed
}  // namespace drav
