#pragma once
// Serves dravfeed's cases to one reader after another, over the pipe or the
// socket the options name, and tells the user how to reach them.
#include <string>

#include "dravfeed/CaseSource.h"
#include "dravfeed/ServeOptions.h"
#include "tools/dravfeed/FeedOptions.h"

namespace dravfeed {

// `variables`: the list the cases are laid out by (for the command that
// reads them); `live`: the cases are still arriving, so they have no count.
drav::feed::ServeStats ServeCases(const FeedOptions& options, const std::string& variables,
                                  drav::feed::CaseSource& cases, bool live);

}  // namespace dravfeed
