#pragma once
// What both servers share: how a serve ends, what it reports, and the
// options that decide when the reader counts as done.
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

namespace drav {
namespace feed {

struct ServeOptions {
  // Set (from a signal handler, say) to make Serve return soon: it is looked
  // at every time a wait ends, and no wait lasts longer than 100 ms.
  const volatile std::sig_atomic_t* cancel = nullptr;
  // The reader is done when a pass has ended, it holds nothing open, and
  // it has not come back (a control message or a new connection) for this
  // long.
  int lingerMs = 2000;
  // Never done: keep serving new passes and new readers until cancelled.
  bool forever = false;
  // Called with one line for each event (a reader came, a pass ended, a
  // rewind, a seek, a stop); may be empty. The library prints nothing.
  std::function<void(const std::string&)> onEvent;
};

struct ServeStats {
  bool cancelled = false;    // Serve ended by the cancel flag, not by the reader
  std::int64_t passes = 0;   // times a reader was given cases from some case on
  std::int64_t rewinds = 0;  // "RWND" messages obeyed
  std::int64_t seeks = 0;    // "SEEK" messages obeyed
  std::int64_t stops = 0;    // "STOP" messages obeyed
};

}  // namespace feed
}  // namespace drav
