#include "tools/dravrun/Options.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "tools/common/OptionReader.h"
#include "tools/dravrun/ColumnSelection.h"

namespace dravrun {
namespace {

// A whole decimal number of at least `minimum`, with nothing around it.
bool ReadCount(const std::string& text, long long minimum, long long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < minimum) return false;
  value = parsed;
  return true;
}

// The names --output takes, one table for reading them and for messages.
const struct {
  const char* name;
  OutputFormat format;
} kOutputNames[] = {{"csv", OutputFormat::kCsv},     {"tsv", OutputFormat::kTsv},
                    {"jsonl", OutputFormat::kJsonl}, {"table", OutputFormat::kTable},
                    {"markdown", OutputFormat::kMarkdown}, {"raw", OutputFormat::kRaw},
                    {"none", OutputFormat::kNone}};

// A number of seconds above 0 (and below a day), such as 5 or 0.5.
bool ReadSeconds(const std::string& text, double& seconds) {
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(parsed > 0) || parsed > 86400) return false;
  seconds = parsed;
  return true;
}

bool ReadOutput(const std::string& text, OutputFormat& output) {
  for (const auto& row : kOutputNames) {
    if (text == row.name) {
      output = row.format;
      return true;
    }
  }
  return false;
}

const char* OutputName(OutputFormat format) {
  for (const auto& row : kOutputNames) {
    if (row.format == format) return row.name;
  }
  return "?";
}

bool ReadDictionaryFormat(const std::string& text, DictionaryFormat& format) {
  if (text == "text") format = DictionaryFormat::kText;
  else if (text == "json") format = DictionaryFormat::kJson;
  else return false;
  return true;
}

ParsedOptions Fail(ParsedOptions result, const std::string& message) {
  result.ok = false;
  result.error = message;
  return result;
}

// The options that take a value. Returns an empty text when the value is
// acceptable, else the message.
std::string ApplyValued(const std::string& name, const std::string& value, Options& o) {
  if (name == "--plugin") {
    o.plugin = value;
  } else if (name == "--catalogs") {
    o.catalogs = value;
  } else if (name == "-f" || name == "--file") {
    o.commandFile = value;
  } else if (name == "--output") {
    if (!ReadOutput(value, o.output)) {
      return "--output: expects csv, tsv, jsonl, table, markdown, raw or none, not '" + value + "'";
    }
  } else if (name == "--columns") {
    o.columns = value;
    return CheckColumnList(value);
  } else if (name == "--na") {
    if (value.find_first_of("\r\n") != std::string::npos) return "--na: the text may not hold a line break";
    o.missing = value;
  } else if (name == "--dictionary-file") {
    if (value.empty()) return "--dictionary-file: needs a file name";
    o.dictionaryFile = value;
    o.dictionary = true;
  } else if (name == "--passes") {
    if (!ReadCount(value, 1, o.passes)) return "--passes: expects a whole number of 1 or more, not '" + value + "'";
  } else if (name == "--seek") {
    if (!ReadCount(value, 0, o.seek)) return "--seek: expects a case number of 0 or more, not '" + value + "'";
  } else if (name == "--summary-every") {
    if (!ReadSeconds(value, o.summaryEvery))
      return "--summary-every: expects a number of seconds above 0, not '" + value + "'";
  } else if (name == "--limit") {
    if (!ReadCount(value, 0, o.limit)) return "--limit: expects a whole number of 0 or more, not '" + value + "'";
  }
  return std::string();
}

// The flags.
void ApplyFlag(const std::string& name, Options& o) {
  if (name == "--summary") o.summary = true;
  else if (name == "--no-header") o.header = false;
  else if (name == "--exact") o.exact = true;
  else if (name == "--progress") o.progress = ProgressMode::kOn;
  else if (name == "--no-progress") o.progress = ProgressMode::kOff;
  else if (name == "--help" || name == "-h") o.help = true;
  else if (name == "--version") o.version = true;
}

// Whether an argument starts the command: every command begins with GET, so
// a word that does not (xml after --dictionary) is a value, wrong or right.
bool StartsCommand(const std::string& arg) {
  const std::string::size_type at = arg.find_first_not_of(" \t\r\n");
  return at != std::string::npos && strncasecmp(arg.c_str() + at, "GET", 3) == 0;
}

// --dictionary's value is optional: the next argument is taken unless it
// is an option or starts the command.
bool IsDictionaryFormat(const std::string& next) { return next.compare(0, 1, "-") != 0 && !StartsCommand(next); }

std::string ApplyDictionary(const drav::tools::ReadOption& option, Options& o) {
  const std::string value = option.hasValue ? option.value : "text";
  if (!ReadDictionaryFormat(value, o.dictionaryFormat)) return "--dictionary: expects text or json, not '" + value + "'";
  o.dictionary = true;
  return std::string();
}

using drav::tools::OptionSpec;
const std::vector<OptionSpec> kOptionSpecs = {
    {"--plugin", OptionSpec::kValue},
    {"--catalogs", OptionSpec::kValue},
    {"-f", OptionSpec::kValue},
    {"--file", OptionSpec::kValue},
    {"--output", OptionSpec::kValue},
    {"--passes", OptionSpec::kValue},
    {"--seek", OptionSpec::kValue},
    {"--limit", OptionSpec::kValue},
    {"--columns", OptionSpec::kValue},
    {"--na", OptionSpec::kValue},
    {"--dictionary-file", OptionSpec::kValue},
    {"--summary-every", OptionSpec::kValue},
    {"--dictionary", OptionSpec::kOptionalValue, &IsDictionaryFormat},
    {"--summary", OptionSpec::kFlag},
    {"--no-header", OptionSpec::kFlag},
    {"--exact", OptionSpec::kFlag},
    {"--progress", OptionSpec::kFlag},
    {"--no-progress", OptionSpec::kFlag},
    {"--help", OptionSpec::kFlag},
    {"-h", OptionSpec::kFlag},
    {"--version", OptionSpec::kFlag},
};

// What one option means for `o`; empty when its value is acceptable, else
// the message.
std::string Apply(const drav::tools::ReadOption& option, Options& o) {
  if (option.name == "--dictionary") return ApplyDictionary(option, o);
  if (option.hasValue) return ApplyValued(option.name, option.value, o);
  ApplyFlag(option.name, o);
  return std::string();
}

// Options that make sense alone but not together; empty when all is well.
std::string CheckCombinations(const Options& o) {
  const std::string output = OutputName(o.output);
  const bool hasHeader = o.output == OutputFormat::kCsv || o.output == OutputFormat::kTsv || o.output == OutputFormat::kTable;
  if (!o.header && !hasHeader) return "--no-header: only csv, tsv and table output have a header to leave out, not " + output;
  const bool spellsMissing = hasHeader || o.output == OutputFormat::kMarkdown;
  if (o.missing && !spellsMissing) {
    return "--na: applies to csv, tsv, table and markdown output; " + output +
           (o.output == OutputFormat::kJsonl ? " writes a missing value as null"
            : o.output == OutputFormat::kRaw ? " keeps a missing value as the NaN the feeder sent"
                                             : " writes no values");
  }
  const bool writesText = o.output == OutputFormat::kCsv || o.output == OutputFormat::kTsv ||
                         o.output == OutputFormat::kJsonl || o.output == OutputFormat::kMarkdown;
  if (o.exact && !writesText) {
    return "--exact: applies to csv, tsv, jsonl and markdown output; " + output +
           (o.output == OutputFormat::kRaw ? " is exact already" : o.output == OutputFormat::kTable ? " is for reading by eye" : " writes no values");
  }
  if (o.output == OutputFormat::kRaw && o.dictionary && o.dictionaryFile.empty()) {
    return "--dictionary: with --output raw standard output holds only the records; write the dictionary "
           "with --dictionary-file FILE";
  }
  return std::string();
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions result;
  Options& o = result.options;
  drav::tools::OptionReader reader("dravrun", kOptionSpecs, args);
  try {
    drav::tools::ReadOption option;
    while (reader.Next(option)) {
      const std::string problem = Apply(option, o);
      if (!problem.empty()) return Fail(result, problem);
    }
  } catch (const drav::tools::UsageError& error) {
    result.pointsToHelp = true;
    return Fail(result, error.what());
  }
  for (const std::string& word : reader.Rest()) {
    if (o.haveCommand) o.command += ' ';
    o.command += word;
    o.haveCommand = true;
  }
  if (o.haveCommand && !o.commandFile.empty()) {
    return Fail(result, "-f: give the command either as an argument or with -f, not both");
  }
  const std::string problem = CheckCombinations(o);
  if (!problem.empty()) return Fail(result, problem);
  result.ok = true;
  return result;
}

const char* VersionText() { return "dravrun 0.1.0\n"; }

const char* UsageText() {
  return R"(Usage: dravrun [options] [COMMAND]

Runs one GET DATA /TYPE = STREAM command through the dravstream plug-in, as a
server would, reads the cases the feeder sends and prints them. COMMAND is the
whole command text (quote it for the shell); without it the command is read
with -f FILE, or from standard input.

Options (a value is the next argument, or follows "=": --limit=20):
  -f, --file FILE        read the command from FILE ("-": standard input)
  --plugin PATH          the plug-in to load
                         (default: the one installed with dravrun, or the
                         build tree's)
  --catalogs DIR         folder of the message catalogs korvel.err, talvex.err
  --output FORMAT        csv (default), tsv, jsonl, table, markdown (a GitHub
                         table), raw (the case records as they are: 8-byte
                         slots, numbers as doubles in this machine's byte
                         order) or none
  --columns LIST         show only these variables, in this order: names and
                         positions from 1, alone or as ranges (id,3-5,a-c);
                         also applies to --summary and --dictionary
  --na TEXT              write a missing value as TEXT (csv, tsv, table and
                         markdown; default: empty, "." in the table)
  --no-header            leave out the row of names (csv, tsv, table)
  --exact                write values as text that reads back to the same
                         value (csv, tsv, jsonl, markdown): numbers as the
                         shortest such text (0.1, 123456789012345, 1e+300),
                         dates and times as ISO 8601 (2024-03-01T12:30:05.25,
                         durations 26:00:00.5) with every stored digit of the
                         fraction, instead of each variable's print format
  --dictionary [FORMAT]  print each variable's name and format first; FORMAT
                         text (default) or json: name, format, offset and
                         width in the raw record, and its numpy dtype
  --dictionary-file FILE write the dictionary to FILE instead (needed with
                         --output raw)
  --summary              after each pass, print per numeric variable its
                         valid N, mean, SD, min and max; per string variable N
  --summary-every SECONDS
                         during a pass, print the running summary so far every
                         SECONDS (on standard error; on standard output with
                         --output none), for live streams whose pass goes on
  --passes N             read the stream N times; each pass after the first
                         rewinds (the command needs REWINDABLE)
  --seek K               start every pass at case K (counted from 0; needs
                         SEEKABLE)
  --limit N              read at most N cases per pass
  --progress             show cases read and cases per second on stderr
  --no-progress          never show progress (default unless stderr is a
                         terminal and standard output is not)
  -h, --help             show this help
  --version              show the version

Cases go to standard output, with each variable's print format as the host
keeps it; missing values are empty (null in jsonl). The host keeps A, F, COMMA, DOT, DOLLAR
and the date formats; TIME, DATETIME and DTIME keep seconds only when wide
(TIME11.2, DATETIME23.2, DTIME15.2; TIME8 becomes TIME5, DATETIME20
DATETIME17); PCT, N, E, MTIME and YMDHMS become F8.2 (--dictionary shows
what was kept). Messages go to standard error as "error: TEXT" or
"warning: TEXT", and every pass ends with "N cases" there.

Exit status: 0 accepted and read, 1 command refused, 2 usage error (also a
command that names no stream or no variable, or a /PIPE that is a folder),
3 the stream failed after it was opened (also a socket feeder that broke off).

Examples:
  dravfeed --pipe /tmp/cases --variables "id F8 name A10" --generate 5 &
  dravrun "GET DATA /TYPE = STREAM /PIPE = '/tmp/cases'
           /VARIABLES = id F8 name A10."

  # weather.cmd: the demo's command, in share/dravstream/examples of the
  # installation (examples/ of the source tree); start its feeder first
  dravrun --output table --limit 20 -f weather.cmd
  dravrun --output none --summary -f weather.cmd
  dravrun --output raw --dictionary json --dictionary-file cases.json \
    -f weather.cmd > cases.bin
  dravrun --seek 1000 --limit 1 --output jsonl \
    "GET DATA /TYPE = STREAM /SOCKET = 5000 /REWINDABLE /SEEKABLE
     /VARIABLES = t DATETIME23.2 temp F6.1."
)";
}

}  // namespace dravrun
