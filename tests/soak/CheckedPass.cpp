#include "tests/soak/CheckedPass.h"

#include "host/DravCaseIterator.h"
#include "host/OBS.h"
#include "tests/soak/Soak.h"
#include "tests/stream/StreamTestSupport.h"

namespace drav {
namespace soak {

std::unique_ptr<DRAV_StreamDataSrc> OpenSoakSource(const std::string& name, const char* rewindName,
                                                   bool seekable, Transport transport) {
  try {
    return test::OpenSource(name, rewindName, seekable, transport == Transport::kSocket, kSoakVariables);
  } catch (int id) {
    Fail("the plug-in could not open " + name + ": message " + std::to_string(id));
  }
}

std::int64_t ReadChecked(DRAV_InputCaseIterator& it, const OBS& obs, ExpectedCases& expected,
                         std::int64_t first, const std::string& where,
                         const std::function<void(std::int64_t)>& onCase) {
  std::int64_t read = 0;
  while (it.Next() == 1) {
    expected.Check(obs.Data(), first + read, where);
    ++read;
    if (onCase) onCase(read);
  }
  return read;
}

}  // namespace soak
}  // namespace drav
