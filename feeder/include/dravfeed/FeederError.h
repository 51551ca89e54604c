#pragma once
// The one exception type of the feeder library. Every failure the library
// reports (a refused variable list, a bad CSV value, a pipe or socket that
// cannot be set up) arrives as a FeederError whose what() is a complete
// sentence for the user; the library itself never prints.
#include <stdexcept>
#include <string>

#include "dravfeed/Export.h"

namespace drav {
namespace feed {

class DRAV_FEED_API FeederError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Input that the user gave us is wrong (variable list, CSV data): the tool
// reports it apart from failures of the system.
class DRAV_FEED_API InputError : public FeederError {
 public:
  using FeederError::FeederError;
};

}  // namespace feed
}  // namespace drav
