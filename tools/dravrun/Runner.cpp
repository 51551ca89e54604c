#include "tools/dravrun/Runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/DravServerErrorText.h"
#include "host/OBS.h"
#include "host/Socket.h"
#include "host/ServerDataManager.h"
#include "tools/dravrun/CaseWriter.h"
#include "tools/dravrun/ColumnSelection.h"
#include "tools/dravrun/Columns.h"
#include "tools/dravrun/CommandFacts.h"
#include "tools/dravrun/Dictionary.h"
#include "tools/dravrun/Plugin.h"
#include "tools/dravrun/OutputFlusher.h"
#include "tools/dravrun/PipePathCheck.h"
#include "tools/dravrun/ProgressMeter.h"
#include "tools/dravrun/Summary.h"
#include "tools/dravrun/SummaryTicker.h"

namespace dravrun {
namespace {

// The plug-in's error callback is a plain function, so the stream it
// writes to lives here for the length of one run.
std::FILE* messageStream = stderr;

void PrintPluginMessage(const char* text, int severity) {
  std::fprintf(messageStream, "%s: %s\n", severity == 0 ? "warning" : "error", text ? text : "");
  std::fflush(messageStream);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadAll(std::FILE* file, std::string& text) {
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return !std::ferror(file);
}

// The command text from the arguments, -f FILE or standard input. False,
// with a message on `err`, when it cannot be read or is blank.
bool ReadCommand(const Options& o, const RunStreams& s, std::string& text) {
  if (o.haveCommand) {
    text = o.command;
  } else if (!o.commandFile.empty() && o.commandFile != "-") {
    std::FILE* file = std::fopen(o.commandFile.c_str(), "r");
    if (!file) {
      std::fprintf(s.err, "dravrun: -f: cannot read %s: %s\n", o.commandFile.c_str(), std::strerror(errno));
      return false;
    }
    const bool ok = ReadAll(file, text);
    std::fclose(file);
    if (!ok) {
      std::fprintf(s.err, "dravrun: -f: cannot read %s\n", o.commandFile.c_str());
      return false;
    }
  } else {
    if (isatty(fileno(s.in))) std::fputs("dravrun: reading the command from standard input (end it with Ctrl-D)\n", s.err);
    if (!ReadAll(s.in, text)) {
      std::fputs("dravrun: cannot read the command from standard input\n", s.err);
      return false;
    }
  }
  // Editors on some systems start a UTF-8 file with a byte-order mark; it is
  // no part of the command.
  static const char kByteOrderMark[] = "\xEF\xBB\xBF";
  if (text.compare(0, 3, kByteOrderMark) == 0) text.erase(0, 3);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    std::fputs("dravrun: no command given (see dravrun --help)\n", s.err);
    return false;
  }
  return true;
}

// A command that names no stream would wait for a pipe with no name, and
// one without variables would read nothing and throw the feeder's data
// away: neither is worth loading the plug-in for. Nor is --seek on a stream
// that cannot seek, which would otherwise leave its feeder waiting.
bool CommandCanRun(const Options& o, const CommandFacts& facts, std::FILE* err) {
  // A misspelt subcommand (SOCKETS for SOCKET) is why no stream is named:
  // the plug-in refuses it and names the word.
  if (!facts.namesStream && !facts.unknownSubcommand.empty()) return true;
  if (!facts.namesStream) {
    std::fputs("dravrun: the command names no stream: add /PIPE = 'PATH' or /SOCKET = PORT\n", err);
    return false;
  }
  if (facts.hasVariables && facts.noVariables) {
    std::fputs("dravrun: the command's /VARIABLES list is empty: name each variable and its "
               "format, as in /VARIABLES = id F8 name A20\n", err);
    return false;
  }
  if (o.seek >= 0 && !facts.seekable) {
    std::fputs("dravrun: --seek: this stream cannot seek; the command needs /SEEKABLE (written after "
               "/REWINDABLE)\n", err);
    return false;
  }
  return true;
}

// What the plug-in accepts without a word but the user may not have meant.
void WarnAboutSurprises(const Options& o, const CommandFacts& facts, std::FILE* err) {
  if (!facts.ignoredText.empty())
    std::fprintf(err, "warning: the text after the command's full stop is ignored: %s\n",
                 facts.ignoredText.c_str());
  if (o.passes > 1 && !facts.rewindable)
    std::fprintf(err, "warning: --passes %lld: the stream is not REWINDABLE, so every pass after "
                 "the first finds it ended\n", o.passes);
}

// The source's columns that --columns chooses (all of them without it).
// False, with the message on `err`, when the list names what is not there.
bool ChooseColumns(const Options& o, const DRAV_DataSource& source, std::FILE* err, std::vector<Column>& columns) {
  columns = ColumnsOf(source);
  if (o.columns.empty()) return true;
  std::vector<Column> chosen;
  std::string error;
  if (!SelectColumns(o.columns, columns, chosen, error)) {
    std::fprintf(err, "dravrun: %s\n", error.c_str());
    return false;
  }
  columns = std::move(chosen);
  return true;
}

// Reads every pass of one registered source.
class PassReader {
 public:
  PassReader(const Options& o, const RunStreams& s, DRAV_DataSource& source, const CommandFacts& facts,
             std::vector<Column> columns)
      : options_(o),
        streams_(s),
        source_(source),
        facts_(facts),
        columns_(std::move(columns)),
        writer_(MakeCaseWriter(o.output, s.out, columns_, WriterSettings{o.missing, o.exact})),
        summary_(columns_),
        progress_(s.err, ProgressEnabled(o, s), RedrawsProgress(s)),
        ticker_(o.output == OutputFormat::kNone ? s.out : s.err, o.summaryEvery),
        flusher_(s.out) {}

  int ReadAllPasses() {
    if (options_.dictionary && !WriteDictionary()) return kExitUsage;
    if (writer_ && options_.header) writer_->WriteHeader();
    for (long long pass = 1; pass <= options_.passes; ++pass) {
      const int status = ReadPass(pass);
      if (status != kExitOk || outputFailed_) return status;
    }
    return kExitOk;
  }

 private:
  // On standard output, set off from the cases by a blank line, or into
  // --dictionary-file.
  bool WriteDictionary() {
    const bool toFile = !options_.dictionaryFile.empty();
    std::FILE* out = toFile ? std::fopen(options_.dictionaryFile.c_str(), "w") : streams_.out;
    if (!out) return DictionaryFileFailed();
    if (options_.dictionaryFormat == DictionaryFormat::kJson) {
      std::fputs(JsonDictionary(columns_).c_str(), out);
    } else {
      PrintTextDictionary(columns_, out);
    }
    if (toFile) return std::fclose(out) == 0 || DictionaryFileFailed();
    if (writer_) std::fputc('\n', out);
    return true;
  }

  bool DictionaryFileFailed() {
    std::fprintf(streams_.err, "dravrun: --dictionary-file: cannot write %s: %s\n", options_.dictionaryFile.c_str(),
                 std::strerror(errno));
    return false;
  }

  // The progress line is redrawn in place only on a terminal that does not
  // also show the rows: rows written while the line stands would land after
  // it, mid-line. Rows on the terminal show the progress themselves, so the
  // meter is on by default only when they go elsewhere.
  static bool RedrawsProgress(const RunStreams& s) {
    return isatty(fileno(s.err)) != 0 && isatty(fileno(s.out)) == 0;
  }

  static bool ProgressEnabled(const Options& o, const RunStreams& s) {
    if (o.progress == ProgressMode::kAuto) return RedrawsProgress(s);
    return o.progress == ProgressMode::kOn;
  }

  int ReadPass(long long pass) {
    OBS obs(source_.GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> iterator(source_.MakeIterator(&obs));
    if (!iterator) {
      std::fprintf(streams_.err, "error: the data source gave no case iterator for pass %lld\n", pass);
      return kExitStreamFailed;
    }
    if (options_.seek >= 0 && !iterator->IsSeekOK()) {
      std::fputs("error: --seek: this stream cannot seek; the command needs /SEEKABLE "
                 "(written after /REWINDABLE)\n", streams_.err);
      return kExitStreamFailed;
    }
    if (options_.seek >= 0) iterator->Seek(options_.seek);

    summary_.Clear();
    progress_.StartPass();
    ticker_.StartPass();
    const PassCount count = UsesEachCase() ? ReadEachCase(*iterator) : CountCases(*iterator);
    // At a clean end of the data the source records where it ended; when a
    // seek, or a rewind over a socket, could not reach the feeder the count
    // stays as it was.
    const bool reachedEnd = (count.stoppedEarly || source_.RowCount() == iterator->Tell()) &&
                            !RewindDeliveredNothing(pass, count.cases);
    // The plug-in ends a pass alike at every end of a socket's data; the
    // host's socket knows whether the feeder finished or broke off. (A pipe
    // cannot tell.)
    const Socket::End end = Socket::LastEndInProcess();
    const bool brokeOff = !count.stoppedEarly && (end == Socket::End::kReset || end == Socket::End::kInsideRequest);
    if (options_.seek <= 0) mostCasesFromStart_ = std::max(mostCasesFromStart_, count.cases);
    progress_.EndPass();
    iterator.reset();  // ends the pass: "STOP" to a socket feeder, the pipe closed
    return FinishPass(pass, count.cases, reachedEnd, brokeOff);
  }

  // A rewind over a pipe that no feeder answers ends its pass like the end
  // of the data, with no case; a stream that gave cases from its start
  // before would give them again after a rewind that worked.
  bool RewindDeliveredNothing(long long pass, long long cases) const {
    return pass > 1 && facts_.rewindable && options_.seek <= 0 && cases == 0 &&
           mostCasesFromStart_ > 0;
  }

  struct PassCount {
    long long cases = 0;
    bool stoppedEarly = false;  // by the case limit or a failed output
  };

  // The case limit, as the largest count a pass may reach.
  long long CaseLimit() const { return options_.limit >= 0 ? options_.limit : LLONG_MAX; }

  bool UsesEachCase() const {
    return writer_ || options_.summary || progress_.Enabled() || ticker_.Enabled();
  }

  // Nothing looks at the cases: the loop is the iterator's alone, so that
  // dravrun --output none reads as fast as the plug-in delivers.
  PassCount CountCases(DRAV_InputCaseIterator& iterator) const {
    const long long limit = CaseLimit();
    PassCount count;
    while (count.cases < limit && iterator.Next()) ++count.cases;
    count.stoppedEarly = count.cases == limit;
    return count;
  }

  // Whether cases put anything on standard output while the pass runs: rows,
  // or the ticker's summaries with --output none.
  bool WritesDuringThePass() const { return writer_ || ticker_.Enabled(); }

  // While the plug-in waits for data, the flusher may hand on what is
  // buffered. With nothing written per case there is nothing to hand on,
  // and the lock around every case would cost a summary a sixth of its time.
  bool NextCase(DRAV_InputCaseIterator& iterator) {
    if (!WritesDuringThePass()) return iterator.Next();
    OutputFlusher::WaitingForCase waiting(flusher_);
    return iterator.Next();
  }

  PassCount ReadEachCase(DRAV_InputCaseIterator& iterator) {
    // What came before the pass (the dictionary) is not left waiting for
    // its end when the flusher will not run.
    if (!WritesDuringThePass()) std::fflush(streams_.out);
    CaseValues values(columns_.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = iterator.GetObsPointer(static_cast<unsigned>(columns_[i].position));
    }
    const long long limit = CaseLimit();
    PassCount count;
    while (true) {
      if (count.cases >= limit) {
        count.stoppedEarly = true;
        break;
      }
      if (!NextCase(iterator)) break;
      ++count.cases;
      if (writer_) {
        errno = 0;
        writer_->WriteCase(values);
        if (OutputFailed()) {
          count.stoppedEarly = true;
          break;
        }
      }
      if (options_.summary || ticker_.Enabled()) summary_.Add(values);
      progress_.Update(count.cases);
      ticker_.Update(summary_, count.cases);
    }
    return count;
  }

  int FinishPass(long long pass, long long cases, bool reachedEnd, bool brokeOff) {
    FlushOutput();
    std::fprintf(streams_.err, "%lld cases\n", cases);
    if (options_.summary && !outputFailed_) {
      if (writer_) std::fputc('\n', streams_.out);
      summary_.Print(streams_.out);
      FlushOutput();
    }
    if (outputFailed_) return OutputFailure();
    if (brokeOff) {
      std::fprintf(streams_.err, "error: the feeder broke off the stream after %lld cases\n", cases);
      return kExitStreamFailed;
    }
    if (!reachedEnd) {
      std::fprintf(streams_.err,
                   "error: pass %lld failed: the %s could not reach the feeder\n", pass,
                   options_.seek >= 0 ? "seek" : "rewind");
      return kExitStreamFailed;
    }
    return kExitOk;
  }

  // True once standard output has failed; the errno of the failing write is
  // kept (callers clear errno just before writing, so it is that write's).
  bool OutputFailed() {
    // Called after every case: the unlocked test is a flag read, where
    // ferror takes the stream's lock (dravrun writes from one thread).
    if (!outputFailed_ && ferror_unlocked(streams_.out)) {
      outputFailed_ = true;
      outputErrno_ = errno != 0 ? errno : flusher_.FailedErrno() != 0 ? flusher_.FailedErrno() : EIO;
    }
    return outputFailed_;
  }

  void FlushOutput() {
    errno = 0;
    if (writer_) writer_->Flush();
    std::fflush(streams_.out);
    OutputFailed();
  }

  // A reader that went away (dravrun ... | head) ends the run quietly, as
  // other filters do; any other write failure is an error.
  int OutputFailure() {
    if (outputErrno_ == EPIPE) return kExitOk;
    std::fprintf(streams_.err, "error: cannot write the cases to standard output: %s\n",
                 std::strerror(outputErrno_));
    return kExitStreamFailed;
  }

  const Options& options_;
  const RunStreams& streams_;
  DRAV_DataSource& source_;
  const CommandFacts facts_;
  std::vector<Column> columns_;
  std::unique_ptr<CaseWriter> writer_;
  Summary summary_;
  ProgressMeter progress_;
  SummaryTicker ticker_;
  OutputFlusher flusher_;  // last: it stops before the streams' users go
  bool outputFailed_ = false;
  int outputErrno_ = 0;
  long long mostCasesFromStart_ = 0;  // the most cases a pass from case 0 gave
};

}  // namespace

int Run(const Options& options, const RunStreams& streams) {
  messageStream = streams.err;
  if (!options.catalogs.empty()) {
    if (!IsDirectory(options.catalogs)) {
      std::fprintf(streams.err, "dravrun: --catalogs: %s is not a folder\n", options.catalogs.c_str());
      return kExitUsage;
    }
    DravServerErrorText::SetCatalogDir(options.catalogs);
  }
  if (options.output == OutputFormat::kRaw && isatty(fileno(streams.out))) {
    std::fputs("dravrun: --output raw: standard output is a terminal; send the records to a file or a pipe\n",
               streams.err);
    return kExitUsage;
  }
  std::string text;
  if (!ReadCommand(options, streams, text)) return kExitUsage;

  TokenizeResult tokens = TokenizeStreamCommand(text);
  const CommandFacts facts = FactsOf(tokens.tokens);
  if (tokens.ok && !CommandCanRun(options, facts, streams.err)) return kExitUsage;
  if (tokens.ok && !PipePathCanBeRead(tokens.tokens, streams.err)) return kExitUsage;

  const std::string pluginPath = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
  std::string loadError;
  std::unique_ptr<Plugin> plugin = Plugin::Load(pluginPath, loadError);
  if (!plugin) {
    std::fprintf(streams.err, "dravrun: %s\n", loadError.c_str());
    return kExitUsage;
  }

  if (!tokens.ok) {
    std::fprintf(streams.err, "error: %s\n", tokens.error.c_str());
    return kExitRefused;
  }
  CommandAdapter adapter(std::move(tokens.tokens), &PrintPluginMessage);
  if (!plugin->ProcessCommand(&adapter)) return kExitRefused;
  WarnAboutSurprises(options, facts, streams.err);

  // The plug-in's source must be gone before the plug-in is unloaded.
  std::unique_ptr<DRAV_DataSource> source = ServerDataManager::GetInstance().TakeLast();
  if (!source) {
    std::fputs("error: the plug-in accepted the command but registered no data source\n", streams.err);
    return kExitStreamFailed;
  }
  std::vector<Column> columns;
  if (!ChooseColumns(options, *source, streams.err, columns)) return kExitUsage;
  return PassReader(options, streams, *source, facts, std::move(columns)).ReadAllPasses();
}

}  // namespace dravrun
