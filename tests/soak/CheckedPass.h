#pragma once
// Reading a pass of generated cases through the plug-in, as a host does,
// checking every case on the way.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/DravCaseIterator.h"
#include "host/OBS.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "tests/soak/ExpectedCases.h"
#include "tests/soak/Soak.h"

namespace drav {
namespace soak {

// Opens a source over `name` with the soak variables (see OpenSource in
// tests/stream). Throws SoakFailure with the message identifier when the
// plug-in refuses.
std::unique_ptr<DRAV_StreamDataSrc> OpenSoakSource(const std::string& name, const char* rewindName,
                                                   bool seekable, Transport transport);

// Reads with `it` until the end of the data, checking that the cases are
// first, first + 1, ...; calls `onCase` (when given) after each case with
// the number of cases read so far. Returns that number.
std::int64_t ReadChecked(DRAV_InputCaseIterator& it, const OBS& obs, ExpectedCases& expected,
                         std::int64_t first, const std::string& where,
                         const std::function<void(std::int64_t)>& onCase = nullptr);

}  // namespace soak
}  // namespace drav
