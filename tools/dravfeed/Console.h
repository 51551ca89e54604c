#pragma once
// dravfeed's edges with the process around it: the lines it says on
// standard error, and the signals that ask it to stop.
#include <csignal>
#include <string>

namespace dravfeed {

// The signal that asked dravfeed to stop (SIGINT or SIGTERM), else 0. The
// servers and the publisher watch it.
extern volatile std::sig_atomic_t stopSignal;

// Records SIGINT and SIGTERM in stopSignal, and ignores SIGPIPE: a reader
// that goes away must cost us a pass, never the process.
void InstallStopSignals();

// Writes "dravfeed: TEXT" and a line end in one write, so that the lines of
// the input's reader thread and the main thread never interleave (a reader
// of our standard error looks for whole lines such as "dravfeed: serving").
void Say(const std::string& text);

}  // namespace dravfeed
