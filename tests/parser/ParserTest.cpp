// The parser: whole commands as the entry rebuilds them (what the host reads
// after an acceptance, the one message of each refusal), format words, path
// values, messages from the catalogs, and the public operations the command
// itself does not use. Random and over-long texts are the fuzz corpus's
// (fuzz/corpus/parser, replayed by CTest).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "host/DravServerErrorText.h"
#include "host/SockAPIWrap.h"
#include "parser/StreamParser.h"

namespace {

std::string Command(const std::string& subcommands) { return "GET DATA /TYPE = STREAM  /" + subcommands + "\n."; }
std::string Pipe(const std::string& variables) { return Command("PIPE = 'p' /VARIABLES = " + variables); }

// The text a message gets: the catalog's, each "%d" replaced by the next
// word of `limits`, then " " and the token when there is one.
std::string MessageText(unsigned int id, const char* token, bool warning = false, const std::string& limits = "") {
  std::string text = DravServerErrorText(warning ? "talvex.err" : "korvel.err", static_cast<long>(id)).GetText();
  std::istringstream words(limits);
  std::string::size_type from = 0;
  for (std::string limit; words >> limit; from += limit.size()) {
    from = text.find("%d", from);
    if (from == std::string::npos) return "catalog text of " + std::to_string(id) + " lacks a %d";
    text.replace(from, 2, limit);
  }
  return token != nullptr ? text + " " + token : text;
}

std::unique_ptr<StreamParser> Parsed(const std::string& text, int* result, DACAdapterBase* adapter = nullptr) {
  auto parser = std::make_unique<StreamParser>(text.c_str(), adapter);
  *result = parser->ParseToExecutor();
  return parser;
}

std::string PendingError(StreamParser& parser) {
  const char* text = parser.GetErrorMesToken();
  return text ? text : "";
}

std::string Format(DRAV_Variable& variable) {
  DRAV_Variable::FormatType type;
  int width, decimals;
  variable.GetFormat(type, width, decimals);
  return std::to_string(type) + "/" + std::to_string(width) + "." + std::to_string(decimals);
}

// "name:type/width.decimals" for every variable, blank-separated.
std::string Variables(StreamParser& parser) {
  std::string out;
  for (int i = 0; i < parser.GetVarIndex(); ++i)
    out += (i ? " " : "") + std::string(parser.GetVariable(i)->GetName()) + ":" + Format(*parser.GetVariable(i));
  return out;
}

// ---- Accepted commands ----------------------------------------------------------

// What the host reads after an acceptance, in one line: name | rewind name |
// "seek" "socket" flags | variables | warnings.
std::string Accepted(StreamParser& parser) {
  const std::string name = parser.GetName();
  EXPECT_EQ(name, parser.GetName()) << "a second call must not prefix again";
  EXPECT_EQ(parser.GetRewSupport(), *parser.GetRewindName() != '\0');
  return name + " | " + parser.GetRewindName() + " |" + (parser.GetSeekFlag() ? " seek" : "") +
         (parser.GetSockUse() ? " socket" : "") + " | " + Variables(parser) + " | " +
         std::to_string(parser.GetWarningList()->size());
}

TEST(AcceptedCommand, GettersGiveWhatTheHostNeeds) {
  std::string local;  // the canonical name of the local host, as the host's lookup gives it
  SockAPIWrap(SockAPIWrap::kNoSsl).GetCanonicalHostByName("localhost", local);
  std::string utf8;
  for (int i = 0; i < 40; ++i) utf8 += "é";  // 80 bytes
  const std::string n64(64, 'n'), f8 = "a:5/8.0 | 0";
  const struct {
    std::string text, expected;
  } cases[] = {
      {Command("PIPE = '/tmp/p' /VARIABLES = id F8 amount COMMA10.2 stamp DATETIME"),
       "/tmp/p |  | | id:5/8.0 amount:3/10.2 stamp:22/23.2 | 0"},
      {Command("PIPE = '/tmp/data pipe' /REWINDABLE = '/tmp/rw' /SEEKABLE /VARIABLES = city A24 pop N10"),
       "/tmp/data pipe | /tmp/rw | seek | city:1/24.0 pop:16/10.0 | 0"},
      {"get data /type = stream  /pipe = '/tmp/x' /Rewindable = '/tmp/r' /seekable /variables = a f8\n.",
       "/tmp/x | /tmp/r | seek | " + f8},
      {Command("PIPE = 'x' /REWINDABLE = 'r' /SEEKABLE = yes /VARIABLES = a F8"), "x | r | seek | " + f8},
      // Written alone, REWINDABLE keeps the value of the subcommand before it.
      {Command("REWINDABLE /PIPE = 'x' /VARIABLES = a F8"), "x | STREAM | | " + f8},
      {Command("SOCKET = 6000 /REWINDABLE /SEEKABLE /VARIABLES = t TIME x E"),
       "inet:" + local + ":6000 | rewindsupported | seek socket | t:21/11.2 x:17/13.5 | 0"},
      {Command("SOCKET = 5 /REWINDABLE = '/tmp/r' /VARIABLES = a F8"), "inet:" + local + ":5 | rewindsupported | socket | " + f8},
      {Command("SOCKET = 6000 /HOST = f.example /VARIABLES = w ADATE"), "inet:f.example:6000 |  | socket | w:23/10.0 | 0"},
      {Command("SOCKET = 5000 6000 /HOST = a.example /HOST = b.example /VARIABLES = a F8"), "inet:b.example:5000 |  | socket | " + f8},
      {Command("SOCKET = 1 /HOST = localhost /VARIABLES = a F8"), "inet:" + local + ":1 |  | socket | " + f8},
      {Command("SOCKET = 1 /HOST = LOCALHOST /VARIABLES = a F8"), "inet:LOCALHOST:1 |  | socket | " + f8},
      {Command("SOCKET = inet:feeder:9000 /HOST = other /VARIABLES = a F8"), "inet:feeder:9000 |  | socket | " + f8},
      {Command("PIPE = 'x' /VARIABLES = "), "x |  | |  | 0"},
      {Pipe("\n\tName A20\r\n  Ünïcode  8F\n"), "p |  | | Name:1/20.0 Ünïcode:5/8.0 | 0"},
      {Pipe("a F8 .b 1x"), "p |  | | " + f8},  // a word starting with "." ends the list
      {"GET DATA /TYPE = STREAM /PIPE = 'p' /VARIABLES = a F8 b A3", "p |  | | a:5/8.0 b:1/3.0 | 0"},
      {Pipe(n64 + " F8"), "p |  | | " + n64 + ":5/8.0 | 0"},  // the longest name needs no cut
      {Pipe(n64 + "_tail F8"), "p |  | | " + n64 + ":5/8.0 | 1"},
      {Pipe(utf8 + " F8"), "p |  | | " + utf8.substr(0, 64) + ":5/8.0 | 1"},
  };
  for (const auto& c : cases) {
    int result = -1;
    auto parser = Parsed(c.text, &result);
    ASSERT_EQ(result, 0) << c.text << ": " << PendingError(*parser);
    EXPECT_EQ(parser->GetErrorMesToken(), nullptr);
    EXPECT_EQ(Accepted(*parser), c.expected);
  }
}

// ---- Refused commands -----------------------------------------------------------

TEST(RefusedCommand, PostsExactlyItsMessageAndStops) {
  const struct {
    std::string text;
    unsigned int id;
    const char* token;  // null: the message has no token
    int variablesKept;
  } cases[] = {
      {"PUT DATA /TYPE = STREAM /PIPE = 'x' /VARIABLES = a F8\n.", 2263, nullptr, 0},
      {"GET DATA /TYPE = FILE /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr, 0},
      {"GET DATA /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr, 0},
      {"GET DATA", 2264, nullptr, 0},
      {Command("SOCKET = 5 /HOST = h"), 2255, "/VARIABLES", 0},
      {Command("SOCKET = 5000 /PIPE = 'x' /VARIABLES = a F8"), 2257, "/PIPE", 0},
      {Command("PIPE = 'x' /SOCKET = 5000 /VARIABLES = a F8"), 2257, "/SOCKET", 0},
      {Command("PIPE = 'x' /PIPE = 'y' /VARIABLES = a F8"), 2257, "/PIPE", 0},
      {Command("PIPE = 'x' /REWINDABLE = 'r' /REWINDABLE = 's' /VARIABLES = a F8"), 2257, "/REWINDABLE", 0},
      {Command("PIPE = 'x' /SeekAble /REWINDABLE = 'r' /VARIABLES = a F8"), 2256, "SeekAble", 0},
      {Command("PIPE 'x' /VARIABLES = a F8"), 2267, "=", 0},
      {Command("PIPE = 'x' /VARIABLES a F8"), 2267, "=", 0},
      {Command("PIPE = 'x' /DELIMITERS = x /VARIABLES = a F8"), 2256, "DELIMITERS", 0},
      {Command("PIPE = 'x' /DELIMITERS = /VARIABLES = a F8"), 2256, "DELIMITERS", 0},
      {Command("PIPE = 'x' /DELIMITERS /VARIABLES = a F8"), 2267, "=", 0},
      {Command("PIPE = 'x' /COLOUR = red /VARIABLES = a F8"), 2256, "COLOUR", 0},
      {Command("PIPE = 'x' /TYPE = STREAM /VARIABLES = a F8"), 2256, "TYPE", 0},
      {Command("PIPE = 'x' /HOST = /VARIABLES = a F8"), 2256, "HOST", 0},
      {Command("PIPE = '' /VARIABLES = a F8"), 2256, "PIPE", 0},
      {Command("PIPE = 'x' y /VARIABLES = a F8"), 2256, "PIPE", 0},
      {Command("PIPE = 'p'"), 2256, "PIPE", 0},
      {Command("PIPE = 'x' //VARIABLES = a F8"), 2254, "/", 0},
      {"GET DATA /TYPE = STREAM  / ", 2254, "/", 0},
      {Command("PIPE = 'x' / = 5 /VARIABLES = a F8"), 2268, nullptr, 0},
      {Command("HOST = h" + std::string(1100, ' ') + "x/PIPE = 'x' /VARIABLES = a F8"), 2267, "/", 0},
      {Command("PIPE = 'x' /BOGUS = 1 /PIPE = 'y' /VARIABLES = 1a F8"), 2256, "BOGUS", 0},  // the first refusal stops
      {Pipe("x F8 X F8"), 2272, "X", 1},
      {Pipe("a F8 b F8 c A2 B F8"), 2272, "B", 3},
      {Pipe("a F8 To F8"), 2277, "To", 1},
      {Pipe("1abc F8"), 2278, "1abc", 0},
      {Pipe("a. F8"), 2278, "a.", 0},
      {Pipe("a F8 last"), 2265, "last", 1},
      {Pipe("a F41"), 2265, "a", 0},
      {Pipe("a (F8.2)"), 2265, "a", 0},
      {Pipe("a 8 X"), 2265, "a", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    int result = -1;
    auto parser = Parsed(c.text, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(PendingError(*parser), MessageText(c.id, c.token, false, c.id == 2272 ? "64 64" : ""));
    EXPECT_TRUE(parser->GetWarningList()->empty());
    EXPECT_EQ(parser->GetErrorMesID(), 2251u);
    EXPECT_EQ(parser->GetVarIndex(), c.variablesKept);
  }
}

// Names are compared in their first 64 bytes; a cut name is warned about
// with the word as written, and the warning stays when an error follows.
TEST(VariableList, CutNamesWarnAndCompareInTheirFirst64Bytes) {
  const std::string n64(64, 'n'), w64(64, 'w');
  int result = -1;
  auto twins = Parsed(Pipe(n64 + "_one F8 " + std::string(64, 'N') + "_two F8"), &result);
  EXPECT_EQ(PendingError(*twins), MessageText(2272, std::string(64, 'N').c_str(), false, "64 64"));
  EXPECT_EQ(twins->GetWarningList()->size(), 2u);
  auto wide = Parsed(Pipe(w64 + "abcdef A32768"), &result);
  EXPECT_EQ(PendingError(*wide), MessageText(2265, w64.c_str()));
  ASSERT_EQ(wide->GetWarningList()->size(), 1u);
  const ErrorText& warning = (*wide->GetWarningList())[0];
  EXPECT_EQ(warning.Text().str(), MessageText(2273, (w64 + "abcdef").c_str(), true, "64"));
  EXPECT_EQ(warning.Severity(), ErrorText::kWarning);
  // A reserved word that is already a variable is reported as the duplicate.
  StreamParser parser("TO F8\n.", nullptr);
  auto* existing = new DRAV_Variable(kFmtF);
  existing->SetName("to");
  parser.AddVariable(existing);
  EXPECT_EQ(parser.ParseVariable(0), 2);
  EXPECT_EQ(PendingError(parser), MessageText(2272, "TO", false, "64 64"));
  char to[] = "TO", lower[] = "to";
  EXPECT_EQ(parser.SearchUpperVarName(to), 0u);
  EXPECT_EQ(parser.SearchUpperVarName(lower), static_cast<unsigned int>(-1));
}

// ---- Format words ---------------------------------------------------------------

TEST(FormatWord, GivesTypeWidthAndDecimals) {
  const struct {
    const char* word;
    const char* format;  // "type/width.decimals"; refused: "-" and the keyword's type, if any
  } cases[] = {
      {"F8.2", "5/8.2"}, {"f8.2", "5/8.2"}, {"COMMA10.2", "3/10.2"}, {"8F", "5/8.0"}, {"F8.", "5/8.0"},
      {"F8X", "5/8.0"}, {"F8.2X", "5/8.2"}, {"CCA8.2", "5/8.2"}, {"cce4", "5/4.0"}, {"N5.3", "16/5.3"},
      {"A10.2", "1/10.2"}, {"DATE11.2", "20/11.2"},
      // Defaults when the word gives neither width nor decimals.
      {"F", "5/8.2"}, {"F.2", "5/8.2"}, {"A", "1/255.0"}, {"N", "16/8.0"}, {"E", "17/13.5"},
      {"DATETIME", "22/23.2"}, {"DATE", "20/11.0"}, {"TIME", "21/11.2"}, {"DTIME", "25/15.2"},
      {"COMMA", "3/8.2"}, {"DOLLAR", "4/8.2"}, {"PCT", "31/8.2"}, {"DOT", "32/8.2"}, {"ADATE", "23/10.0"},
      {"EDATE", "38/10.0"}, {"SDATE", "39/10.0"}, {"JDATE", "24/7.0"}, {"WKDAY", "26/9.0"}, {"MONTH", "27/9.0"},
      {"MOYR", "28/8.0"}, {"QYR", "29/8.0"}, {"WKYR", "30/10.0"}, {"MTIME", "-85"}, {"YMDHMS", "-86"},
      // Smallest widths.
      {"MTIME5", "85/5.0"}, {"MTIME6.1", "-85"}, {"MTIME7.1", "85/7.1"}, {"YMDHMS12", "86/12.0"},
      {"YMDHMS20.1", "-86"}, {"YMDHMS21.1", "86/21.1"}, {"E10.5", "17/12.5"}, {"E6.1", "17/8.1"}, {"E8", "17/8.0"},
      {"E6", "-17"}, {"TIME5.2", "21/11.2"}, {"TIME5.3", "-21"}, {"TIME5.1", "-21"}, {"TIME5", "21/5.0"}, {"TIME4", "-21"},
      {"DATETIME17", "22/17.0"}, {"DATETIME16", "-22"}, {"DATETIME22.1", "22/22.1"}, {"DATETIME22.2", "-22"},
      {"DTIME9", "25/9.0"}, {"DTIME14.2", "-25"}, {"DOLLAR1", "-4"}, {"DOLLAR3.2", "-4"}, {"DOLLAR4.2", "4/4.2"},
      {"PCT1", "-31"}, {"DATE8", "-20"}, {"DATE9", "20/9.0"}, {"JDATE4", "-24"}, {"WKDAY1", "-26"}, {"MONTH2", "-27"}, {"MONTH2.1", "-27"}, {"MONTH3.1", "27/3.1"},
      {"QYR5", "-29"}, {"ADATE7", "-23"},
      // Width and decimal limits.
      {"F40", "5/40.0"}, {"F41", "-5"}, {"A32767", "1/32767.0"}, {"A32768", "-1"}, {"F20.16", "5/20.16"},
      {"F20.17", "-5"}, {"F8.16", "-5"}, {"F0.2", "-5"}, {"F8.-2", "-5"}, {"F99999999999999999999", "-5"},
      // Words that are no format.
      {"8.2F", "-"}, {"8X", "-"}, {"X", "-"}, {"(F8.2)", "-"}, {"FF8", "-"}, {".", "-"}, {"", "-"}, {"8", "-"},
      {"8 X", "-"},
  };
  for (const auto& c : cases) {
    StreamParser parser(c.word, nullptr);
    DRAV_Variable::FormatType type;
    // Whatever the caller had: a refused word leaves no type or width of its own behind.
    type = kFmtDATETIME;
    unsigned long width = 777;
    unsigned int decimals = 777;
    const bool accepted = parser.GetFormat(0, type, width, decimals);
    const std::string got = std::to_string(type) + "/" + std::to_string(width) + "." + std::to_string(decimals);
    EXPECT_EQ(accepted ? got : type == kFmtUnset ? "-" : "-" + std::to_string(type), c.format) << c.word;
    EXPECT_NE(width, 777u) << c.word;
  }
}

TEST(FormatWord, ColumnWidthsDefaultsAndWarningsForOverwideFormats) {
  DRAV_Variable::FormatType type;
  unsigned long width;
  unsigned int decimals;
  StreamParser column("DATETIME", nullptr);
  ASSERT_TRUE(column.GetFormat(25, type, width, decimals));
  EXPECT_EQ(std::to_string(type) + "/" + std::to_string(width) + "." + std::to_string(decimals), "22/25.2");
  // Seconds only when the column has room for them.
  const struct {
    unsigned long column;
    unsigned int type;
    const char* format;
  } defaults[] = {{23, kFmtDATETIME, "23.2"}, {22, kFmtDATETIME, "22.0"}, {11, kFmtTIME, "11.2"},
                  {10, kFmtTIME, "10.0"},     {15, kFmtDTIME, "15.2"},    {14, kFmtDTIME, "14.0"},
                  {12, kFmtF, "12.0"},        {0, kFmtMTIME, "0.0"},      {0, 99, "0.0"},
                  {0, kFmtE, "13.5"},         {0, kFmtA, "255.0"}};
  StreamParser parser("", nullptr);
  for (const auto& c : defaults) {
    width = decimals = 777;
    parser.ApplyFormatDefaults(c.column, c.type, width, decimals);
    EXPECT_EQ(std::to_string(width) + "." + std::to_string(decimals), c.format) << c.column << " " << c.type;
  }
  DRAV_Variable::FormatType string = kFmtA, number = kFmtF, comma = kFmtCOMMA;
  unsigned long wideString = 40000, wideNumber = 300, wideComma = 300, widest = 32767;
  char name[] = "v";
  parser.AdjustFormat(string, wideString, name);
  parser.AdjustFormat(number, wideNumber, name);
  parser.AdjustFormat(comma, wideComma, name);
  parser.AdjustFormat(string, widest, name);  // fits: no warning
  EXPECT_EQ(std::to_string(wideString) + " " + std::to_string(wideNumber) + " " + std::to_string(wideComma) + " " +
                std::to_string(widest),
            "32767 40 300 32767");
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].Text().str(), MessageText(2271, "v", true, "32767"));
  EXPECT_EQ(warnings[1].Text().str(), MessageText(2274, "v", true, "40"));
  EXPECT_EQ(DRAV_Format(kFmtF, 300, 2).width, 40);
  EXPECT_EQ(DRAV_Format(kFmtAHEX, 300, 0).width, 300);
  EXPECT_EQ(DRAV_Format(kFmtA, 70000, 0).width, 65535) << "held at the field's bound";
  EXPECT_EQ(DRAV_Format(kFmtA, -3, -1).width, 0);
}

// ---- Path values and file names ---------------------------------------------

// A host adapter that shows what it was asked.
class RecordingAdapter : public DACAdapterBase {
 public:
  DACTokenSource* GetTokenSource() override { return nullptr; }
  ErrorCallback GetErrorCallback() override { return nullptr; }
  std::string ResolveFileSpec(const std::string& name, bool unquoted) override {
    return (unquoted ? "unquoted:" : "quoted:") + name;
  }
};

TEST(PathValue, ReadsTheValueAsWrittenAndCutsItBetweenCharacters) {
  std::string longPath;
  for (int i = 0; i < 600; ++i) longPath += "é";  // 1200 bytes: cut to the 1022 that end a character
  const std::string longText = "PIPE = '" + longPath + "' /VARIABLES";
  const struct {
    std::string text, value;
    bool followedBySubcommand;
  } cases[] = {
      {"PIPE = '/tmp/in pipe' /VARIABLES", "/tmp/in pipe", true}, {"PIPE=/tmp/a/b /VARIABLES", "/tmp/a/b", true},
      {"PIPE = 'p'\n.", "p", false}, {"PIPE = \"x/y z\"/VARIABLES", "x/y z", true},
      {"PIPE = \"a\"\"\" /VARIABLES", "a\"\"", true}, {"PIPE = \"a\"\"b\" /VARIABLES", "a\"", false},
      {"PIPE = '' /VARIABLES", "", true}, {"PIPE \t=\r\n '/tmp/t'\r\n/VARIABLES", "/tmp/t", true},
      {"PIPE = 'C:\\tmp\\n' /V", "C:\\tmp\\n", true}, {"PIPE = 'open /VARIABLES = a", "open /VARIABLES = a", false},
      {"PIPE = \"open", "open", false}, {"PIPE = \"shut\"", "shut", false}, {"PIPE 'x' /VARIABLES", "", false},
      {"PIPE =", "", false}, {"PIPE = '/tmp/flöde strøm' /V", "/tmp/flöde strøm", true},
      {longText, longPath.substr(0, 1022), true},
  };
  for (const auto& c : cases) {
    StreamParser parser(c.text.c_str(), nullptr);
    char out[StreamParser::kBufferSize + 16];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(parser.GetFilePath(out, true), c.followedBySubcommand) << c.text;
    EXPECT_EQ(std::string(out), c.value) << c.text;
    EXPECT_EQ(std::string(out + StreamParser::kBufferSize, 16), std::string(16, '#')) << "written past the buffer";
  }
  RecordingAdapter adapter;
  int result = -1;
  auto parser = Parsed(Command("PIPE = /tmp/p /REWINDABLE = \"/tmp/r\" /VARIABLES = a F8"), &result, &adapter);
  EXPECT_STREQ(parser->GetName(), "unquoted:/tmp/p");
  EXPECT_STREQ(parser->GetRewindName(), "quoted:/tmp/r");
  char out[StreamParser::kBufferSize];
  StreamParser unresolved("PIPE = /tmp/p /V", &adapter);
  EXPECT_TRUE(unresolved.GetFilePath(out, false));
  EXPECT_STREQ(out, "/tmp/p");
}

// The operations for column descriptions and file names, which the command
// itself does not use: each call's result as text.
TEST(PublicOperations, ColumnDescriptionsFileNamesAndTextEdits) {
  RecordingAdapter adapter;
  const auto fileName = [&](const char* text, DACAdapterBase* a, std::size_t room) {
    StreamParser parser(text, a);
    char out[StreamParser::kBufferSize] = "";
    std::memset(out + room, '#', 4);
    parser.ParseFileName(out, room);
    return std::string(out) + (out[room] == '#' ? "" : " (written past its room)");
  };
  const auto positions = [](const char* text) {
    StreamParser parser(text, nullptr);
    unsigned long start = 99, width = 99;
    const bool ok = parser.GetPositions(start, width);
    return std::to_string(ok) + " " + std::to_string(start) + " " + std::to_string(width);
  };
  const auto lines = [](const char* text) {  // each line number (0: refused) and the word after it
    StreamParser parser(text, nullptr);
    std::string out;
    for (int i = 0; i < 6; ++i) {
      unsigned long line = 0;
      char word[StreamParser::kBufferSize];
      out += std::to_string(parser.GetLineNumber(line) ? line : 0) + " ";
      parser.ParseWord(word, sizeof word);
      out += std::string(word) + ";";
    }
    return out;
  };
  const auto edit = [](void (StreamParser::*operation)(char*&), const char* in) {
    std::string buffer = in;
    char* text = buffer.data();
    StreamParser parser;
    (parser.*operation)(text);
    return std::string(text);
  };
  const auto firstWord = [](const char* text) {
    std::string buffer = text;
    StreamParser().StripSpaces(buffer.data());
    return std::string(buffer.c_str());
  };
  const auto columnName = [](const char* text) {
    StreamParser parser(text, nullptr);
    DRAV_Variable variable(kFmtA);
    parser.ParseVarName(&variable);
    parser.ParseDataType(&variable);
    return std::string(variable.GetName()) + " " + Format(variable);
  };
  const struct {
    std::string got, expected;
  } cases[] = {
      {fileName("  FILE='/data/x.txt'\nnext", nullptr, 64), "/data/x.txt"},
      {fileName("file=/data/with blank.txt\r\n", nullptr, 64), "/data/with blank.txt"},
      {fileName("/plain/name", nullptr, 64), "/plain/name"},
      {fileName("''\n", nullptr, 64), ""},
      {fileName("file='~/x'\n", &adapter, 64), "quoted:~/x"},
      {fileName("~/x\n", &adapter, 64), "unquoted:~/x"},
      {fileName("/a/rather/long/name\n", nullptr, 8), "/a/rath"},
      {positions("5-9"), "1 5 5"}, {positions("9-5"), "0 9 0"}, {positions("5-"), "0 5 0"},
      {positions("5"), "0 5 0"}, {positions("-5"), "0 0 0"}, {positions("7-7"), "1 7 1"},
      {positions("1-80 next"), "1 1 80"},
      // No "/": the current record; going back is refused; a bare "/" is the next.
      {lines("name /3 x /2 y / z /"), "1 name;3 x;0 /2;3 y;4 z;5 ;"},
      {lines("/ a /0"), "1 a;0 /0;1 ;1 ;1 ;1 ;"},
      {edit(&StreamParser::StripQuotes, "'abc'"), "abc"}, {edit(&StreamParser::StripQuotes, "\"a b\"c"), "a b"},
      {edit(&StreamParser::StripQuotes, "'open"), "open"}, {edit(&StreamParser::StripQuotes, "plain"), "plain"},
      {edit(&StreamParser::StripQuotes, ""), ""}, {edit(&StreamParser::StripQuotes, "'a\"b'"), "a\"b"},
      {edit(&StreamParser::ConvertSlashTab, "\\t\\\\rest"), "\t\\rest"},
      {edit(&StreamParser::ConvertSlashTab, "\\Trest"), "\trest"},
      {edit(&StreamParser::ConvertSlashTab, "\\\\rest"), "\\rest"},
      {edit(&StreamParser::ConvertSlashTab, "\\"), "\\"}, {edit(&StreamParser::ConvertSlashTab, ""), ""},
      {firstWord(" \t PIPE  x"), "PIPE"}, {firstWord("VARIABLES"), "VARIABLES"}, {firstWord("  "), ""},
      {std::to_string(StreamParser("  3.5e2 next", nullptr).ParseNumber()), "350.000000"},
      {std::to_string(StreamParser("  42x7", nullptr).ParseInt()), "42"},
      {columnName("   Income per year\r\nskip"), "Income per year 5/0.0"},
      {columnName("x\nComma"), "x 3/0.0"}, {columnName("x\nymdhms"), "x 86/0.0"}, {columnName("x\nbogus"), "x 0/0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

// ---- Messages ---------------------------------------------------------------------

// The messages no refusal above posts, and tokens that must be taken as
// they are: a "%" is no conversion, and no length overruns anything.
TEST(Messages, EachHasItsCatalogTextLimitsAndToken) {
  const std::string huge(5000, 'k');
  const struct {
    unsigned int id;
    bool warning;
    const char* token;
    const char* limits;  // what the integer conversions become, in order
  } cases[] = {{2279, false, "/tmp/p", ""},    {2280, false, "/tmp/r", ""},         {2281, false, "inet:h:1", ""},
               {2263, false, "", ""},          {2256, false, "100%", ""},           {2272, false, "%d%s%n", "64 64"},
               {2273, true, huge.c_str(), "64"}, {4242, false, "tok", ""}};
  for (const auto& c : cases) {
    StreamParser parser("", nullptr);
    EXPECT_TRUE(parser.PostErrorMsg(c.id, c.token, c.warning));
    const ErrorTextList& warnings = *parser.GetWarningList();
    const std::string text = c.warning ? (warnings.empty() ? "" : warnings.back().Text().str()) : PendingError(parser);
    EXPECT_EQ(warnings.size(), c.warning ? 1u : 0u);
    EXPECT_EQ(text, MessageText(c.id, c.token, c.warning, c.limits));
    EXPECT_EQ(text.find("has no text") == std::string::npos, c.id != 4242) << text;
  }
}

TEST(Messages, LaterErrorReplacesThePendingOneAndWarningsKeepTheirOrder) {
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(2254, "/", false);
  parser.PostErrorMsg(2274, "first", true);
  parser.PostErrorMsg(2256, "PIPE", false);
  parser.PostErrorMsg(2273, "second", true);
  EXPECT_EQ(PendingError(parser), MessageText(2256, "PIPE"));
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].Text().str(), MessageText(2274, "first", true, "40"));
  EXPECT_NE(warnings[1].Text().str().find(" second"), std::string::npos);
  EXPECT_EQ(warnings[0].Number(), 0);
  parser.EmptyErrorTextList();
  EXPECT_TRUE(parser.GetWarningList()->empty());
}

}  // namespace
