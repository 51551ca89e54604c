// Fuzz target: StreamParser over arbitrary text.
//
// The input is the whole command text (a NUL byte ends it, as it would for
// the C string the entry hands over). The parser runs once without an
// adapter and once with the host's command adapter, whose file-name
// resolution takes another path through the value code; ParseAndCheck reads
// every getter after each run and checks what callers rely on, and the two
// runs must agree wherever the adapter has nothing to resolve.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/ParserChecks.h"
#include "host/CommandAdapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ParseSummary plain = ParseAndCheck(text, nullptr);
  CommandAdapter adapter({}, nullptr);
  const ParseSummary adapted = ParseAndCheck(text, &adapter);
  // The host's adapter changes only names that start with "~/"; without one
  // in the text both parses must agree to the byte.
  if (text.find('~') == std::string::npos) FUZZ_CHECK(plain == adapted);
  return 0;
}
