// Fuzz target: StreamParser over arbitrary text.
//
// The input is the whole command text (a NUL byte ends it, as it would for
// the C string the entry hands over). The parser runs once without an
// adapter and once with the host's command adapter, whose file-name
// resolution takes another path through the value code; ParseAndCheck reads
// every getter after each run and checks what callers rely on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/ParserChecks.h"
#include "host/CommandAdapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseAndCheck(text, nullptr);
  CommandAdapter adapter({}, nullptr);
  ParseAndCheck(text, &adapter);
  return 0;
}
