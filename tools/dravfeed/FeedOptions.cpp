#include "tools/dravfeed/FeedOptions.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "feeder/records/DatePattern.h"
#include "dravfeed/FeederError.h"
#include "tools/common/OptionReader.h"
#if DRAV_HAVE_JETSTREAM
#include "feeder/jetstream/JetStreamLayout.h"
#endif

namespace dravfeed {
namespace {

const char kHelp[] = R"(Usage: dravfeed [options]

Serves cases to a GET DATA /TYPE = STREAM reader, through named pipes or TCP.
An option's value is the next argument, or follows "=": --socket=0.

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
                          The input is read as it arrives and serving starts at
                          once: each case goes out as soon as its line has ended,
                          and a pass ends when the input has ended. A last line
                          without its line end is served too.
                          A line longer than the variables can need (twice
                          their widths, 64 bytes for any other value, 64 more
                          per column; at least 1 MiB) is refused unread.
  --header                the first CSV record names the columns: each variable
                          takes the column of its name (case and the blanks
                          around it aside; failing that, with each run of other
                          characters read as _, so "Adj Close" is adj_close's
                          column); other columns are skipped. A header whose
                          names are not the variables' is skipped with --skip 1.
                          Without --variables, the list is inferred from the
                          names and the values of the file (not standard
                          input): numbers F (whole numbers as wide as their
                          digits, others F40.16), dates DATE11 or DATETIME23.2,
                          times TIME11.2, strings A as wide as the longest;
                          names made valid and distinct. It is printed, and a
                          later value the list cannot hold as it is (a longer
                          string, a date given as a number) is refused
  --infer-rows N          infer the list from the first N records only (default:
                          every record of the file, read once before serving)
  --delimiter C           fields are separated by C instead of a comma (\t: tab)
  --tsv                   fields are separated by tabs (--delimiter \t)
  --skip N                drop the first N lines (a preamble) before anything
  --comment C             lines starting with C are no records (e.g. #)
  --null TEXT             an unquoted field TEXT is a missing value (blank for
                          a string); may be given again: --null NA --null NULL.
                          An empty field is always missing
  --date-format PATTERN   read date and date-time values by PATTERN only, e.g.
                          %d-%b-%y (07-Dec-26) or "%Y-%m-%d %H:%M:%S": %Y %y
                          (69-99 are 19xx) %m %d %b (Dec, December, any case)
                          %H %I %p %M %S %f (fraction) %F %T %%; a blank matches
                          any blanks. A value that does not match is refused
  --follow                with --csv FILE: at the end of the file, wait for more
                          lines as tail -f does (until SIGINT or SIGTERM)
  --generate N            N synthetic cases instead: case i holds i + j/4 in
                          numeric column j (odd columns missing when i % 7 == 6),
                          2024-01-01 plus i minutes in dates, i minutes in times,
                          "c<i>" in strings
  --rate R                with --generate: produce R cases per second, as a live
                          producer would
  --replay FILE           serve the cases of a capture file (its variable list and
                          byte order come from the file); a capture cut short
                          serves its whole blocks, says where it was cut and
                          ends with status 3; a damaged one is refused
  --from nats://HOST:PORT/STREAM
                          serve the cases of a NATS JetStream stream that
                          dravfeed --publish filled: case n is the n-th case
                          across its messages; rewinds and seeks start reading
                          at the message that holds the case. The stream's
                          variable list must be --variables. A pass ends at
                          the end of the stream as it stands when the pass
                          starts (--snapshot, the default), or goes on with
                          what is published meanwhile (--follow). A missing
                          message, case numbers that do not follow, or a
                          server that does not answer within 2 s end the pass
                          after the last whole case, with a message

Publishing to a JetStream stream (instead of serving):
  --publish nats://HOST:PORT/STREAM
                          append the cases of --csv or --generate to the stream,
                          512 to a message; any number of producers may append
                          at once: each batch is numbered after the stream's
                          last case and refused (and renumbered) if another
                          producer came first
  --create                with --publish: make the stream (file storage, subject
                          drav.STREAM) unless it exists
  --replicas N            with --create: keep the stream on N servers of the
                          cluster (1 to 5; 3 survives the loss of one)
  --max-age AGE           with --create: drop messages older than AGE (seconds,
                          or 90m, 12h, 30d); default: keep them
  --max-bytes SIZE        with --create: drop the oldest messages beyond SIZE
                          (bytes, or 500M, 2G); default: no limit
  --storage file|memory   with --create: where the servers keep it (file)

JetStream addresses, credentials and state:
  An address is nats://HOST:PORT/STREAM; several servers of one cluster as
  nats://H1:P1,H2:P2,H3:P3/STREAM (the client moves to another when its
  server goes away); tls:// asks for TLS. nats://USER@... takes the password
  from the environment variable DRAV_NATS_PASSWORD, a bare address the token
  from DRAV_NATS_TOKEN; USER:PASSWORD@ and TOKEN@ in the address work too,
  but the command line is visible to others until dravfeed hides it. No
  message ever shows a password or token.
  --nats-nkey FILE        sign in with the user NKey seed in FILE
  --nats-creds FILE       sign in with a credentials file (user JWT and seed)
  --nats-ca FILE          trust the certificate authorities in FILE (PEM)
  --nats-cert FILE, --nats-key FILE
                          the client's certificate and key, for servers that
                          verify their clients (mutual TLS)
  --info nats://HOST:PORT/STREAM
                          print the stream's cases, first and last case, variable
                          list, replicas and their state, bytes and limits
  --start end|-N|CASE     with --from: case 0 of every pass is the stream's case
                          CASE, or its end when dravfeed starts (only newer
                          cases, with --follow), or N cases before that end

Live cases, rewinds and captures:
  A reader may rewind or seek on a live input: it is served from every case
  received so far, and a seek beyond them waits for them (or for the end of
  the input, which ends the pass). The cases are kept in memory up to a cap,
  the rest in a spill file under TMPDIR that has no name (mode 0600), so
  memory stays flat however long the input runs and nothing is left behind.
  --memory MiB            how much of the live cases to keep in memory (64; a
                          fraction such as 0.5 is allowed)
  --capture FILE          also write every case served (mode 0600), in blocks
                          with checksums and the case count, for --replay later
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
  --print-command         print the GET DATA command that reads the stream on
                          standard output once it can be reached, then close
                          standard output (dravfeed ... --print-command | dravrun -f -).
                          The command is always logged on standard error too

  --help                  this text
  --version               the version

Examples:
  dravfeed --pipe /tmp/cases --rewind-pipe /tmp/cases.rw \
           --variables "id F8 name A20" --csv people.csv --header
  dravfeed --socket 0 --variables "x F8.2 y F8.2" --generate 1000000
  dravfeed --socket 5000 --byte-order swapped --variables "t DATETIME v F8" --csv - < data.csv
  sensor | dravfeed --socket 0 --variables "t DATETIME v F8" --csv - --capture run.cap
  dravfeed --socket 0 --replay run.cap
  dravfeed --socket 0 --csv export.csv --header --null NULL --date-format %d-%b-%y \
           --variables "id F8 day DATE11"
  dravfeed --publish nats://127.0.0.1:4222/cases --create --variables "x F8" --generate 1000000
  dravfeed --socket 0 --from nats://127.0.0.1:4222/cases --variables "x F8"
  dravfeed --pipe /tmp/cases --variables "x F8" --generate 100000 --rate 10

Exit status:
  0  the reader is done
  1  the variable list or the CSV data was refused (the message names the line
     and column; on a live input every case before the bad one was served, and
     bad data before any case ends dravfeed at once), a stream holds another
     variable list, or a capture to replay is damaged
  2  usage error (also --from or --publish in a dravfeed built without the
     NATS C client)
  3  serving failed (a pipe or socket could not be set up or failed), a stream
     could not be reached or published to, a pass of --from ended at a break,
     or a replayed capture was cut short
  130, 143  stopped by SIGINT or SIGTERM (the pipes are removed first)
)";

[[noreturn]] void Refuse(const std::string& message) { throw std::invalid_argument(message); }

// One character for --delimiter or --comment; "\t" stands for a tab.
char CsvCharacter(const std::string& option, const std::string& text) {
  const std::string one = text == "\\t" ? "\t" : text;
  if (one.size() != 1 || one == "\"" || one == "\n" || one == "\r")
    Refuse(option + " takes one character (\\t for a tab) other than a quote or a line end, not \"" +
           text + "\"");
  return one[0];
}

// `delimiter`: --delimiter's text, if given.
drav::feed::CsvOptions CheckedCsv(drav::feed::CsvOptions csv, bool tsv, const std::string* delimiter) {
  if (tsv && delimiter) Refuse("give one of --delimiter or --tsv");
  if (tsv) csv.delimiter = '\t';
  if (delimiter) csv.delimiter = CsvCharacter("--delimiter", *delimiter);
  if (csv.comment != '\0' && csv.comment == csv.delimiter)
    Refuse("--comment and the delimiter cannot be the same character");
  if (!csv.datePattern.empty()) {
    try {
      drav::feed::DatePattern check(csv.datePattern);
    } catch (const drav::feed::InputError& error) {
      Refuse("--date-format \"" + csv.datePattern + "\" " + error.what());
    }
  }
  return csv;
}

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

double NonNegative(const std::string& option, const std::string& text, double high) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= 0) || value > high)
    Refuse(option + " takes a number from 0 to " + std::to_string(static_cast<long long>(high)) +
           ", not \"" + text + "\"");
  return value;
}

void CheckSource(const FeedOptions& options) {
  const int sources = !options.csvPath.empty() + options.generate + !options.replayPath.empty() +
                      !options.fromUrl.empty();
  if (sources != 1) Refuse("give one of --csv FILE, --generate N, --replay FILE or --from URL");
  if (!options.publishUrl.empty() && (!options.replayPath.empty() || !options.fromUrl.empty()))
    Refuse("--publish takes its cases from --csv or --generate");
  if (options.create && options.publishUrl.empty()) Refuse("--create goes with --publish");
  if (options.snapshot && options.fromUrl.empty()) Refuse("--snapshot goes with --from");
  if (options.snapshot && options.follow) Refuse("give one of --snapshot or --follow");
  if (!options.fromUrl.empty() && !options.capturePath.empty())
    Refuse("--capture goes not with --from: the stream keeps the cases already");
  const bool infers = options.variables.empty() && !options.csvPath.empty() && options.header;
  if (infers && (options.csvPath == "-" || options.follow))
    Refuse("--variables is required with --csv " + std::string(options.follow ? "FILE --follow" : "-") +
           ": a list is inferred by reading the file to its end before serving it");
  if (options.inferRowsGiven && !infers) Refuse("--infer-rows goes with --csv FILE --header and no --variables");
  if (options.replayPath.empty() && options.variables.empty() && !infers)
    Refuse(options.csvPath.empty() ? "--variables is required"
                                   : "--variables is required (or --header, to infer it from the file)");
  if (!options.replayPath.empty() && !options.variables.empty())
    Refuse("--variables goes not with --replay: the capture holds its variable list");
  if (!options.replayPath.empty() && options.order != drav::feed::ByteOrder::kNative)
    Refuse("--byte-order goes not with --replay: the capture holds its byte order");
  if (options.header && options.csvPath.empty()) Refuse("--header goes with --csv");
  if (options.follow && options.fromUrl.empty() && (options.csvPath.empty() || options.csvPath == "-"))
    Refuse("--follow goes with --csv FILE or --from URL");
  if (options.rate > 0 && !options.generate) Refuse("--rate goes with --generate");
  if (!options.capturePath.empty() && !options.replayPath.empty())
    Refuse("--capture goes not with --replay: the capture is there already");
}

void Check(const FeedOptions& options) {
  if (options.help || options.version) return;
  CheckNatsOptions(options.nats, !options.fromUrl.empty(), !options.publishUrl.empty(), options.create);
  if (!options.nats.infoUrl.empty()) {
    if (!options.fromUrl.empty() || !options.publishUrl.empty() || options.useSocket ||
        !options.pipePath.empty() || !options.variables.empty())
      Refuse("--info stands alone: it only prints the stream's state");
    return;
  }
  if (!options.publishUrl.empty()) {
    if (!options.pipePath.empty() || options.useSocket)
      Refuse("--publish serves no reader: leave out --pipe and --socket");
    if (options.printCommand) Refuse("--print-command goes with --pipe or --socket: --publish serves no reader");
    return CheckSource(options);
  }
  if (options.pipePath.empty() == !options.useSocket)
    Refuse("give one of --pipe PATH or --socket PORT");
  if (!options.rewindPipePath.empty() && options.useSocket)
    Refuse("--rewind-pipe goes with --pipe; over a socket rewinds need nothing more");
  if (!options.bindAddress.empty() && !options.useSocket) Refuse("--bind goes with --socket");
  CheckSource(options);
}

#if DRAV_HAVE_JETSTREAM
// A nats:// address that names no server or stream is a usage error, found
// before any server is asked.
void CheckStreamAddress(const std::string& option, const std::string& url) {
  if (url.empty()) return;
  std::vector<std::string> servers;
  try {
    servers = drav::feed::jetstream::StreamAddress::Parse(url).servers;
  } catch (const drav::feed::InputError& error) {
    Refuse(option + ": " + error.what());
  }
  const std::string shown = drav::feed::jetstream::RedactedUrl(url);
  for (const std::string& address : servers) {
    const std::string server = address.substr(address.find("://") + 3);
    const std::size_t colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0)
      Refuse(option + ": \"" + shown + "\" is no stream address: write nats://HOST:PORT/STREAM");
    WholeNumber(option + ": the port of \"" + shown + "\"", server.substr(colon + 1), 1, 65535);
  }
}
#endif

using drav::tools::OptionSpec;
using drav::tools::ReadOption;

// The options that only keep their text, and the flags that only set
// themselves.
const struct {
  const char* name;
  std::string FeedOptions::*field;
} kTexts[] = {{"--pipe", &FeedOptions::pipePath},       {"--rewind-pipe", &FeedOptions::rewindPipePath},
              {"--bind", &FeedOptions::bindAddress},    {"--variables", &FeedOptions::variables},
              {"--csv", &FeedOptions::csvPath},         {"--replay", &FeedOptions::replayPath},
              {"--from", &FeedOptions::fromUrl},        {"--publish", &FeedOptions::publishUrl},
              {"--capture", &FeedOptions::capturePath}};
const struct {
  const char* name;
  bool FeedOptions::*field;
} kFlags[] = {{"--header", &FeedOptions::header}, {"--print-command", &FeedOptions::printCommand},
              {"--follow", &FeedOptions::follow}, {"--create", &FeedOptions::create},
              {"--snapshot", &FeedOptions::snapshot}, {"--forever", &FeedOptions::forever},
              {"--verbose", &FeedOptions::verbose}, {"--help", &FeedOptions::help},
              {"-h", &FeedOptions::help},          {"--version", &FeedOptions::version}};
// The options of the CSV reader, which go with --csv, and the options whose
// values are checked here.
const char* const kCsvOptions[] = {"--delimiter", "--skip", "--comment", "--null", "--date-format"};
const char* const kCheckedOptions[] = {"--socket", "--infer-rows", "--generate", "--rate",
                                       "--memory", "--byte-order", "--linger"};

std::vector<OptionSpec> OptionSpecs() {
  std::vector<OptionSpec> specs = NatsOptionSpecs();
  for (const auto& text : kTexts) specs.push_back({text.name, OptionSpec::kValue});
  for (const char* name : kCsvOptions) specs.push_back({name, OptionSpec::kValue});
  for (const char* name : kCheckedOptions) specs.push_back({name, OptionSpec::kValue});
  for (const auto& flag : kFlags) specs.push_back({flag.name, OptionSpec::kFlag});
  specs.push_back({"--tsv", OptionSpec::kFlag});
  return specs;
}

// False when `option` is neither a plain text nor a plain flag.
bool ApplyPlain(const ReadOption& option, FeedOptions& options) {
  for (const auto& text : kTexts) {
    if (option.name == text.name) {
      options.*text.field = option.value;
      return true;
    }
  }
  for (const auto& flag : kFlags) {
    if (option.name == flag.name) {
      options.*flag.field = true;
      return true;
    }
  }
  return false;
}

// What the CSV reader's options leave to be checked once all are read.
struct CsvChoices {
  std::string firstOption;  // the first one given, which needs --csv
  bool tsv = false;
  bool hasDelimiter = false;
  std::string delimiter;
};

// False when `option` is not one of the CSV reader's.
bool ApplyCsv(const ReadOption& option, FeedOptions& options, CsvChoices& choices) {
  const std::string& name = option.name;
  if (name == "--tsv") {
    choices.tsv = true;
  } else if (name == "--delimiter") {
    choices.hasDelimiter = true;
    choices.delimiter = option.value;
  } else if (name == "--skip") {
    options.csv.skipLines = static_cast<long>(WholeNumber(name, option.value, 0, 1000000000));
  } else if (name == "--comment") {
    options.csv.comment = CsvCharacter(name, option.value);
  } else if (name == "--null") {
    options.csv.nullTexts.push_back(option.value);
  } else if (name == "--date-format") {
    options.csv.datePattern = option.value;
  } else {
    return false;
  }
  if (choices.firstOption.empty()) choices.firstOption = name;
  return true;
}

void ApplyChecked(const ReadOption& option, FeedOptions& options) {
  const std::string& name = option.name;
  const std::string& value = option.value;
  if (name == "--socket") {
    options.useSocket = true;
    options.port = static_cast<int>(WholeNumber(name, value, 0, 65535));
  } else if (name == "--infer-rows") {
    options.inferRows = WholeNumber(name, value, 1, 1LL << 50);
    options.inferRowsGiven = true;
  } else if (name == "--generate") {
    options.generate = true;
    options.generateCount = WholeNumber(name, value, 0, 1LL << 50);
  } else if (name == "--rate") {
    options.rate = NonNegative(name, value, 1e9);
  } else if (name == "--memory") {
    options.memoryBytes = static_cast<std::size_t>(NonNegative(name, value, 1 << 20) * (1 << 20));
  } else if (name == "--byte-order") {
    if (value == "native") options.order = drav::feed::ByteOrder::kNative;
    else if (value == "swapped") options.order = drav::feed::ByteOrder::kSwapped;
    else Refuse("--byte-order takes native or swapped, not \"" + value + "\"");
  } else if (name == "--linger") {
    options.lingerMs = Milliseconds(name, value);
  } else {
    ParseNatsOption(name, [&value] { return value; }, options.nats);
  }
}

}  // namespace

const char* HelpText() { return kHelp; }

FeedOptions ParseFeedOptions(int argc, char** argv) {
  FeedOptions options;
  CsvChoices csvChoices;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<OptionSpec> specs = OptionSpecs();
  drav::tools::OptionReader reader("dravfeed", specs, args);
  ReadOption read;
  while (reader.Next(read)) {
    if (!ApplyPlain(read, options) && !ApplyCsv(read, options, csvChoices)) ApplyChecked(read, options);
  }
  const std::vector<std::string> rest = reader.Rest();
  if (!rest.empty()) throw drav::tools::UsageError("dravfeed", "unexpected argument '" + rest.front() + "'");
  Check(options);
  if (!csvChoices.firstOption.empty() && options.csvPath.empty() && !options.help && !options.version)
    Refuse(csvChoices.firstOption + " goes with --csv");
  options.csv = CheckedCsv(options.csv, csvChoices.tsv, csvChoices.hasDelimiter ? &csvChoices.delimiter : nullptr);
  options.csv.header = options.header;
  TakeNatsSecrets(options.nats, argc, argv);
#if !DRAV_HAVE_JETSTREAM
  // After the other checks, so a wrong combination is named as in any build.
  if (!options.fromUrl.empty() || !options.publishUrl.empty() || !options.nats.infoUrl.empty())
    Refuse(std::string(!options.nats.infoUrl.empty() ? "--info" : options.fromUrl.empty() ? "--publish" : "--from") +
           " needs the NATS C client, and this dravfeed was built without it"
           " (install libnats-dev and build again)");
#else
  CheckStreamAddress("--from", options.fromUrl);
  CheckStreamAddress("--publish", options.publishUrl);
#endif
  return options;
}

}  // namespace dravfeed
