#include "host/OBS.h"

// A case buffer always has at least one slot, so Data() is never null, even
// for a source without columns.
OBS::OBS(int slots)
    : slotCount_(slots > 0 ? slots : 0),
      slots_(new double[static_cast<std::size_t>(slots > 0 ? slots : 1)]()) {}
