#include "tools/dravfeed/FeedOptions.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace dravfeed {
namespace {

const char kHelp[] = R"(Usage: dravfeed [options]

Serves cases to a GET DATA /TYPE = STREAM reader, through named pipes or TCP.

Where to serve (one of):
  --pipe PATH             create a named pipe at PATH and write the records into it
  --rewind-pipe PATH      also create a rewind pipe at PATH, through which the
                          reader asks for "RWND" (from case 0) and "SEEK" (from
                          any case); without it the reader gets one pass only
  --socket PORT           listen on TCP PORT (0: any free port; the chosen port is
                          printed as "dravfeed: listening on port N")
  --bind ADDR             listen on ADDR instead of loopback (IPv6 ::1 and IPv4
                          127.0.0.1); e.g. 0.0.0.0 or ::

What to serve:
  --variables "LIST"      the variable list, as in the command:
                          "id F8 name A20 stamp DATETIME when DATE at TIME"
  --csv FILE              the cases, one CSV record (RFC 4180) each; - reads
                          standard input. Numbers as 12.5 or -3e2, dates as
                          2024-03-01 or 2024-03-01T12:30:00, times as 12:30:00;
                          an empty field is a missing value; strings are padded
                          or cut to their width
  --header                the first CSV record holds column names; skip it
  --generate N            N synthetic cases instead: case i holds i + j/4 in
                          numeric column j (odd columns missing when i % 7 == 6),
                          2024-01-01 plus i minutes in dates, i minutes in times,
                          "c<i>" in strings
  --byte-order ORDER      native (default) or swapped: act as a feeder of the
                          other byte order (probe and numbers reversed; a SEEK
                          case number, which comes in the reader's order, is
                          reversed back)

When to stop:
  The reader is done, and dravfeed exits 0, when a pass has ended, the reader
  holds nothing open and has not come back (a rewind, a seek, a new
  connection) for the linger time. Over a pipe without --rewind-pipe, the
  reader is done after its one pass.
  --linger SECONDS        how long to wait for the reader to come back (2)
  --forever               never done: serve until SIGINT or SIGTERM
  --verbose               one line on standard error for each event

  --help                  this text
  --version               the version

Examples:
  dravfeed --pipe /tmp/cases --rewind-pipe /tmp/cases.rw \
           --variables "id F8 name A20" --csv people.csv --header
  dravfeed --socket 0 --variables "x F8.2 y F8.2" --generate 1000000
  dravfeed --socket 5000 --byte-order swapped --variables "t DATETIME v F8" --csv - < data.csv

Exit status:
  0  the reader is done
  1  the variable list or the CSV data was refused (the message names the line
     and column)
  2  usage error
  3  serving failed (a pipe or socket could not be set up or failed)
  130, 143  stopped by SIGINT or SIGTERM (the pipes are removed first)
)";

[[noreturn]] void Refuse(const std::string& message) { throw std::invalid_argument(message); }

long long WholeNumber(const std::string& option, const std::string& text, long long low,
                      long long high) {
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
    Refuse(option + " takes a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

int Milliseconds(const std::string& option, const std::string& text) {
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds >= 0) || seconds > 86400)
    Refuse(option + " takes a number of seconds from 0 to 86400, not \"" + text + "\"");
  return static_cast<int>(seconds * 1000);
}

void Check(const FeedOptions& options) {
  if (options.help || options.version) return;
  if (options.pipePath.empty() == !options.useSocket)
    Refuse("give one of --pipe PATH or --socket PORT");
  if (!options.rewindPipePath.empty() && options.useSocket)
    Refuse("--rewind-pipe goes with --pipe; over a socket rewinds need nothing more");
  if (!options.bindAddress.empty() && !options.useSocket) Refuse("--bind goes with --socket");
  if (options.variables.empty()) Refuse("--variables is required");
  if (options.csvPath.empty() == !options.generate) Refuse("give one of --csv FILE or --generate N");
  if (options.header && options.generate) Refuse("--header goes with --csv");
}

}  // namespace

const char* HelpText() { return kHelp; }

FeedOptions ParseFeedOptions(int argc, char** argv) {
  FeedOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Refuse(option + " needs a value");
      return argv[++i];
    };
    if (option == "--pipe") {
      options.pipePath = value();
    } else if (option == "--rewind-pipe") {
      options.rewindPipePath = value();
    } else if (option == "--socket") {
      options.useSocket = true;
      options.port = static_cast<int>(WholeNumber(option, value(), 0, 65535));
    } else if (option == "--bind") {
      options.bindAddress = value();
    } else if (option == "--variables") {
      options.variables = value();
    } else if (option == "--csv") {
      options.csvPath = value();
    } else if (option == "--header") {
      options.header = true;
    } else if (option == "--generate") {
      options.generate = true;
      options.generateCount = WholeNumber(option, value(), 0, 1LL << 50);
    } else if (option == "--byte-order") {
      std::string order = value();
      if (order == "native")
        options.order = drav::feed::ByteOrder::kNative;
      else if (order == "swapped")
        options.order = drav::feed::ByteOrder::kSwapped;
      else
        Refuse("--byte-order takes native or swapped, not \"" + order + "\"");
    } else if (option == "--linger") {
      options.lingerMs = Milliseconds(option, value());
    } else if (option == "--forever") {
      options.forever = true;
    } else if (option == "--verbose") {
      options.verbose = true;
    } else if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--version") {
      options.version = true;
    } else {
      Refuse("unknown option \"" + option + "\" (see --help)");
    }
  }
  Check(options);
  return options;
}

}  // namespace dravfeed
