#pragma once
// dravrun's command line: what it means and how it is read.
#include <optional>
#include <string>
#include <vector>

namespace dravrun {

enum class OutputFormat { kCsv, kTsv, kJsonl, kTable, kMarkdown, kRaw, kNone };
enum class ProgressMode { kAuto, kOn, kOff };
enum class DictionaryFormat { kText, kJson };

struct Options {
  std::string plugin;       // empty: beside the executable, ../lib/libdravstream.so
  std::string catalogs;     // empty: the host's own search
  OutputFormat output = OutputFormat::kCsv;
  bool dictionary = false;
  DictionaryFormat dictionaryFormat = DictionaryFormat::kText;
  std::string dictionaryFile;  // empty: standard output, before the cases
  std::string columns;         // --columns LIST; empty: every variable
  std::optional<std::string> missing;  // --na TEXT; unset: each format's own spelling
  bool header = true;          // --no-header clears it
  bool exact = false;          // --exact: text that reads back to the same values
  bool summary = false;
  double summaryEvery = 0;  // --summary-every SECONDS during a pass; 0: never
  long long passes = 1;
  long long seek = -1;      // -1: no seek
  long long limit = -1;     // -1: every case
  ProgressMode progress = ProgressMode::kAuto;
  std::string commandFile;  // -f FILE; "-" is standard input
  std::string command;      // the command text from the arguments
  bool haveCommand = false;
  bool help = false;
  bool version = false;
};

struct ParsedOptions {
  bool ok = false;
  std::string error;  // names the option at fault, when !ok
  bool pointsToHelp = false;  // the error is a misused option and already says to see --help
  Options options;
};

// Reads argv[1..argc-1]. Options come first; the first argument that is not
// an option (or everything after "--") starts the command, and the remaining
// arguments are joined to it with single blanks.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// The text of --help.
const char* UsageText();
const char* VersionText();

}  // namespace dravrun
