// The parser: whole commands as the entry rebuilds them, the corpus of variable lists, path values, catalog messages
// and the public operations the command itself does not use. Random and over-long texts: fuzz/corpus/parser.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "base/FormatRules.h"
#include "base/ListMessages.h"
#include "base/WireFormat.h"
#include "host/SockAPIWrap.h"
#include "parser/FormatTables.h"
#include "parser/StreamParser.h"
#include "tests/support/VariableListCorpus.h"

namespace {

std::string Command(const std::string& subcommands) { return "GET DATA /TYPE = STREAM  /" + subcommands + "\n."; }
std::string Pipe(const std::string& variables) { return Command("PIPE = 'p' /VARIABLES = " + variables); }

using drav::test::CatalogMessage;

std::pair<std::unique_ptr<StreamParser>, int> Parsed(const std::string& text, DACAdapterBase* adapter = nullptr) {
  auto parser = std::make_unique<StreamParser>(text.c_str(), adapter);
  const int result = parser->ParseToExecutor();
  return {std::move(parser), result};
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

TEST(AcceptedCommand, GettersGiveWhatTheHostNeeds) {
  std::string local;  // the canonical name of the local host, as the host's lookup gives it
  SockAPIWrap(SockAPIWrap::kNoSsl).GetCanonicalHostByName("localhost", local);
  const std::string a = "a:5/8.0";
  const struct {  // the command, and what the host reads after its acceptance
    std::string text, name, rewind;
    bool seek, socket;
    std::string variables;  // as Variables() writes them
  } cases[] = {
      {Command("PIPE = '/tmp/p' /VARIABLES = id F8 amount COMMA10.2 stamp DATETIME"),
       "/tmp/p", "", false, false, "id:5/8.0 amount:3/10.2 stamp:22/23.2"},
      {Command("PIPE = '/tmp/data pipe' /REWINDABLE = '/tmp/rw' /SEEKABLE /VARIABLES = city A24 pop N10"),
       "/tmp/data pipe", "/tmp/rw", true, false, "city:1/24.0 pop:16/10.0"},
      {"get data /type = stream  /pipe = '/tmp/x' /Rewindable = '/tmp/r' /seekable /variables = a f8\n.",
       "/tmp/x", "/tmp/r", true, false, a},
      {Command("PIPE = 'x' /REWINDABLE = 'r' /SEEKABLE = yes /VARIABLES = a F8"), "x", "r", true, false, a},
      {Command("PIPE='x'/REWINDABLE='r'/VARIABLES=a F8"), "x", "r", false, false, a},
      {Command("SOCKET=6000/HOST=f.example/VARIABLES=a F8"), "inet:f.example:6000", "", false, true, a},
      // Written alone, REWINDABLE keeps the value of the subcommand before it.
      {Command("REWINDABLE /PIPE = 'x' /VARIABLES = a F8"), "x", "STREAM", false, false, a},
      {Command("SOCKET = 6000 /REWINDABLE /SEEKABLE /VARIABLES = t TIME x E"),
       "inet:" + local + ":6000", "rewindsupported", true, true, "t:21/11.2 x:17/13.5"},
      {Command("SOCKET = 5 /REWINDABLE = '/tmp/r' /VARIABLES = a F8"),
       "inet:" + local + ":5", "rewindsupported", false, true, a},
      {Command("SOCKET = 6000 /HOST = f.example /VARIABLES = w ADATE"),
       "inet:f.example:6000", "", false, true, "w:23/10.0"},
      {Command("SOCKET = 5000 6000 /HOST = a.example /HOST = b.example /VARIABLES = a F8"),
       "inet:b.example:5000", "", false, true, a},
      {Command("SOCKET = 1 /HOST = localhost /VARIABLES = a F8"), "inet:" + local + ":1", "", false, true, a},
      {Command("SOCKET = 1 /HOST = LOCALHOST /VARIABLES = a F8"), "inet:LOCALHOST:1", "", false, true, a},
      {Command("SOCKET = inet:feeder:9000 /HOST = other /VARIABLES = a F8"), "inet:feeder:9000", "", false, true, a},
      {Command("PIPE = 'x' /VARIABLES = "), "x", "", false, false, ""},
      // Read in pieces of 1022 bytes: blanks begin the piece after the first, then the next "/".
      {Command("PIPE = 'x' /HOST = h" + std::string(1100, ' ') + "/VARIABLES = a F8"), "x", "", false, false, a},
      {"GET DATA /TYPE = STREAM /PIPE = 'p' /VARIABLES = a F8 b A3", "p", "", false, false, "a:5/8.0 b:1/3.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto [parser, result] = Parsed(c.text);
    ASSERT_EQ(result, 0) << PendingError(*parser);
    EXPECT_EQ(parser->GetErrorMesToken(), nullptr);
    EXPECT_EQ(std::string(parser->GetName()), c.name);
    EXPECT_EQ(std::string(parser->GetName()), c.name) << "a second call must not prefix again";
    EXPECT_EQ(std::string(parser->GetRewindName()), c.rewind);
    EXPECT_EQ(parser->GetRewSupport(), !c.rewind.empty());
    EXPECT_EQ(parser->GetSeekFlag(), c.seek);
    EXPECT_EQ(parser->GetSockUse(), c.socket);
    EXPECT_EQ(Variables(*parser), c.variables);
    EXPECT_TRUE(parser->GetWarningList()->empty());
  }
}

TEST(RefusedCommand, PostsExactlyItsMessageAndStops) {
  const struct {
    std::string text;
    unsigned int id;
    const char* token;  // null: the message has no token
  } cases[] = {
      {"PUT DATA /TYPE = STREAM /PIPE = 'x' /VARIABLES = a F8\n.", 2263, nullptr},
      {"GET DATA /TYPE = FILE /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr},
      {"GET DATA /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr},
      {"GET DATA", 2264, nullptr},
      {Command("SOCKET = 5 /HOST = h"), 2255, "/VARIABLES"},
      {Command("SOCKET = 5000 /PIPE = 'x' /VARIABLES = a F8"), 2257, "/PIPE"},
      {Command("PIPE = 'x' /SOCKET = 5000 /VARIABLES = a F8"), 2257, "/SOCKET"},
      {Command("PIPE = 'x' /PIPE = 'y' /VARIABLES = a F8"), 2257, "/PIPE"},
      {Command("PIPE = 'x' /REWINDABLE = 'r' /REWINDABLE = 's' /VARIABLES = a F8"), 2257, "/REWINDABLE"},
      {Command("PIPE = 'x' /SeekAble /REWINDABLE = 'r' /VARIABLES = a F8"), 2256, "SeekAble"},
      {Command("PIPE 'x' /VARIABLES = a F8"), 2267, "="},
      {Command("PIPE = 'x' /VARIABLES a F8"), 2267, "="},
      {Command("PIPE = 'x' /DELIMITERS = x /VARIABLES = a F8"), 2256, "DELIMITERS"},
      {Command("PIPE = 'x' /DELIMITERS = /VARIABLES = a F8"), 2256, "DELIMITERS"},
      {Command("PIPE = 'x' /DELIMITERS /VARIABLES = a F8"), 2267, "="},
      {Command("PIPE = 'x' /COLOUR = red /VARIABLES = a F8"), 2256, "COLOUR"},
      {Command("PIPE = 'x' /TYPE = STREAM /VARIABLES = a F8"), 2256, "TYPE"},
      {Command("PIPE = 'x' /HOST = /VARIABLES = a F8"), 2256, "HOST"},
      {Command("PIPE = '' /VARIABLES = a F8"), 2256, "PIPE"},
      {Command("PIPE = 'x' y /VARIABLES = a F8"), 2256, "PIPE"},
      {Command("PIPE = 'p'"), 2256, "PIPE"},
      {Command("PIPE = 'x' //VARIABLES = a F8"), 2254, "/"},
      {"GET DATA /TYPE = STREAM  / ", 2254, "/"},
      {Command("PIPE = 'x' / = 5 /VARIABLES = a F8"), 2268, nullptr},
      {Command("HOST = h" + std::string(1100, ' ') + "x/PIPE = 'x' /VARIABLES = a F8"), 2267, "/"},
      {Pipe("v 8" + std::string(1100, 'A')), 2265, "v"},  // a width-first word cut to its buffer
      {Command("PIPE = 'x' /BOGUS = 1 /PIPE = 'y' /VARIABLES = 1a F8"), 2256, "BOGUS"},  // the first refusal stops
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    auto [parser, result] = Parsed(c.text);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(PendingError(*parser), CatalogMessage(c.id, c.token));
    EXPECT_TRUE(parser->GetWarningList()->empty());
    EXPECT_EQ(parser->GetErrorMesID(), 2251u);
    EXPECT_EQ(parser->GetVarIndex(), 0);
  }
  EXPECT_EQ(StreamParser().GetErrorMesID(), 0u) << "a parser made without a command";
}

// A reserved word that is already a variable is reported as the duplicate; the index holds exact upper-case names.
TEST(VariableList, DuplicateCheckComesFirstAndSearchesUpperCaseNames) {
  StreamParser parser("TO F8\n.", nullptr);
  auto* existing = new DRAV_Variable(kFmtF);
  existing->SetName("to");
  EXPECT_EQ(Format(*existing), "5/8.0") << "a new variable's format";
  EXPECT_TRUE(parser.AddVariable(existing));
  char name[StreamParser::kBufferSize];
  EXPECT_TRUE(StreamParser("  abc d", nullptr).GetVarName(name));
  EXPECT_EQ(parser.ParseVariable(0), 2);
  EXPECT_EQ(PendingError(parser), CatalogMessage(2272, "TO", false, "64 64"));
  char to[] = "TO", lower[] = "to";
  EXPECT_EQ(parser.SearchUpperVarName(to), 0u);
  EXPECT_EQ(parser.SearchUpperVarName(lower), static_cast<unsigned int>(-1));
}

// Every list of tests/data/variable-lists.tsv, as the last subcommand of a command: the one refusal or the record's
// size, the warnings, and each variable kept with its format and slot, as the corpus records them.
TEST(VariableList, GivesTheVerdictOfTheCorpus) {
  for (const drav::test::ListCase& c : drav::test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    auto [parser, result] = Parsed(Pipe(c.list));
    std::string fields;
    for (const ErrorText& warning : *parser->GetWarningList())
      fields += "\twarning " + drav::test::MessageVerdict(warning.Text().str(), true);
    drav::wire::CaseLayout layout;
    for (int i = 0; i < parser->GetVarIndex(); ++i) {
      DRAV_Variable::FormatType type;
      int width, decimals;
      parser->GetVariable(i)->GetFormat(type, width, decimals);
      const int slot = layout.Append(drav::format::IsStringCode(type) ? width : 0);
      fields += drav::test::VariableField(parser->GetVariable(i)->GetName(), type, width, decimals,
                                          drav::format::KindName(drav::format::KindOfCode(type)), slot);
    }
    const std::string head = result == 0 ? std::to_string(layout.SlotCount()) + " slots"
                                         : "refused " + drav::test::MessageVerdict(PendingError(*parser), false);
    EXPECT_EQ(head + fields, c.verdict) << "line " << c.line << ": " << c.list;
  }
}

TEST(FormatWord, ColumnWidthsDefaultsAndWarningsForOverwideFormats) {
  DRAV_Variable::FormatType type;
  unsigned long width;
  unsigned int decimals;
  StreamParser column("DATETIME", nullptr);
  ASSERT_TRUE(column.GetFormat(25, type, width, decimals));
  EXPECT_EQ(type, kFmtDATETIME);
  EXPECT_EQ(width, 25u);
  EXPECT_EQ(decimals, 2u);
  StreamParser refused("Q8", nullptr);
  EXPECT_FALSE(refused.GetFormat(25, type, width, decimals));
  EXPECT_EQ(type, kFmtUnset) << "a refused word leaves no format behind";
  StreamParser bare("8 X F8", nullptr);  // a bare width takes the word that might complete it
  EXPECT_FALSE(bare.GetFormat(0, type, width, decimals));
  char next[StreamParser::kBufferSize];
  bare.ParseWord(next, sizeof next);
  EXPECT_STREQ(next, "F8");
  // Seconds only when the column has room for them; the defaults of a format word are the corpus's.
  const struct {
    unsigned long column;
    unsigned int type;
    const char* format;
  } defaults[] = {{23, kFmtDATETIME, "23.2"}, {22, kFmtDATETIME, "22.0"}, {11, kFmtTIME, "11.2"},
                  {10, kFmtTIME, "10.0"},     {15, kFmtDTIME, "15.2"},    {14, kFmtDTIME, "14.0"},
                  {12, kFmtF, "12.0"},        {0, 99, "0.0"}};
  StreamParser parser("", nullptr);
  for (const auto& c : defaults) {
    width = decimals = 777;
    parser.ApplyFormatDefaults(c.column, c.type, width, decimals);
    EXPECT_EQ(std::to_string(width) + "." + std::to_string(decimals), c.format) << c.column << " " << c.type;
  }
  char name[] = "v";  // the last string fits: no warning
  for (auto [type, wide, held] : {std::tuple(kFmtA, 40000ul, 32767ul), {kFmtF, 300ul, 40ul}, {kFmtCOMMA, 300ul, 300ul},
                                  {kFmtA, 32767ul, 32767ul}}) {
    parser.AdjustFormat(type, wide, name);
    EXPECT_EQ(wide, held) << type;
  }
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].Text().str(), CatalogMessage(2271, "v", true, "32767"));
  EXPECT_EQ(warnings[1].Text().str(), CatalogMessage(2274, "v", true, "40"));
  EXPECT_EQ(DRAV_Format(kFmtF, 300, 2).width, 40);
  EXPECT_EQ(DRAV_Format(kFmtAHEX, 300, 0).width, 300);
  EXPECT_EQ(DRAV_Format(kFmtA, 70000, 0).width, 65535) << "held at the field's bound";
  EXPECT_EQ(DRAV_Format(kFmtA, -3, -1).width, 0);
}

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
  auto parser = Parsed(Command("PIPE = /tmp/p /REWINDABLE = \"/tmp/r\" /VARIABLES = a F8"), &adapter).first;
  EXPECT_STREQ(parser->GetName(), "unquoted:/tmp/p");
  EXPECT_STREQ(parser->GetRewindName(), "quoted:/tmp/r");
  char out[StreamParser::kBufferSize];
  StreamParser unresolved("PIPE = /tmp/p /V", &adapter);
  EXPECT_TRUE(unresolved.GetFilePath(out, false));
  EXPECT_STREQ(out, "/tmp/p");
}

// The operations for column descriptions and file names the command does not use: each call's result as text.
TEST(PublicOperations, ColumnDescriptionsFileNamesAndTextEdits) {
  RecordingAdapter adapter;
  const auto fileName = [&](const char* text, DACAdapterBase* a, std::size_t room) {  // and the next line's, after "|"
    StreamParser parser(text, a);
    char out[StreamParser::kBufferSize] = "";
    std::memset(out + room, '#', 4);
    parser.ParseFileName(out, room);
    const std::string first = std::string(out) + (out[room] == '#' ? "" : " (written past its room)");
    parser.ParseFileName(out, room);
    return first + "|" + out;
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
  // The word ends where the process may not read: a byte read past its end faults.
  const auto format = [](const char* word) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(pages + page, page, PROT_NONE);
    char* cut = std::strcpy(pages + page - std::strlen(word) - 1, word);
    unsigned long width = 0;
    unsigned int decimals = 0;
    StreamParser().ParseFormat(cut, width, decimals);
    const std::string got = std::string(cut) + " " + std::to_string(width) + "." + std::to_string(decimals);
    munmap(pages, 2 * page);
    return got;
  };
  const struct {
    std::string got, expected;
  } cases[] = {
      {format("F8.2"), "F 8.2"},
      {format("12X"), "X 12.0"},
      {format("DATETIME"), "DATETIME 0.0"},
      {fileName("  FILE='/data/x.txt'\nnext", nullptr, 64), "/data/x.txt|next"},
      {fileName("file=/data/with blank.txt\r\n", nullptr, 64), "/data/with blank.txt|"},
      {fileName("/plain/name", nullptr, 64), "/plain/name|"},
      {fileName("''\n", nullptr, 64), "|"},
      {fileName("file='~/x'\n", &adapter, 64), "quoted:~/x|"},
      {fileName("~/x\n", &adapter, 64), "unquoted:~/x|"},
      {fileName("/a/rather/long/name\n", nullptr, 8), "/a/rath|"},
      // No "/": the current record; going back is refused; a bare "/" is the next.
      {lines("name /3 x /2 y / z /"), "1 name;3 x;0 /2;3 y;4 z;5 ;"},
      {lines("/ a /0"), "1 a;0 /0;1 ;1 ;1 ;1 ;"},
      {lines("/0 a"), "0 /0;1 a;1 ;1 ;1 ;1 ;"},
      {edit(&StreamParser::StripQuotes, "'abc'"), "abc"}, {edit(&StreamParser::StripQuotes, "\"a b\"c"), "a b"},
      {edit(&StreamParser::StripQuotes, "'open"), "open"}, {edit(&StreamParser::StripQuotes, "plain"), "plain"},
      {edit(&StreamParser::StripQuotes, ""), ""}, {edit(&StreamParser::StripQuotes, "'a\"b'"), "a\"b"},
      {edit(&StreamParser::ConvertSlashTab, "\\t\\\\rest"), "\t\\rest"},
      {edit(&StreamParser::ConvertSlashTab, "\\Trest"), "\trest"},
      {edit(&StreamParser::ConvertSlashTab, "\\\\rest"), "\\rest"},
      {edit(&StreamParser::ConvertSlashTab, "\\"), "\\"}, {edit(&StreamParser::ConvertSlashTab, ""), ""},
      {firstWord(" \t PIPE  x"), "PIPE"}, {firstWord("VARIABLES"), "VARIABLES"}, {firstWord("  "), ""},
      {std::to_string(StreamParser("  3.5e2 next", nullptr).ParseNumber()), "350.000000"},
      {std::to_string(StreamParser((std::string(127, '0') + "7").c_str(), nullptr).ParseNumber()), "0.000000"},
      {std::to_string(StreamParser("  42x7", nullptr).ParseInt()), "42"},
      {std::to_string(StreamParser((std::string(255, '0') + "7").c_str(), nullptr).ParseInt()), "0"},  // 255 read
      {columnName("   Income per year\r\nskip"), "Income per year 5/0.0"},
      {columnName("x\nComma"), "x 3/0.0"}, {columnName("x\nymdhms"), "x 86/0.0"}, {columnName("x\nbogus"), "x 0/0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
  // A column description's type word gives the code its keyword gives in a variable list.
  for (const DataTypeRow& row : dataTypeTable) {
    const auto* keyword = drav::format::FindKeyword(drav::name::UpperCase(row.keyword).c_str());
    if (!keyword) continue;  // "skip" has none: it reads a column as F
    EXPECT_EQ(columnName(("x\n" + std::string(row.keyword)).c_str()), "x " + std::to_string(keyword->code) + "/0.0");
  }
  const struct {
    const char* text;
    bool ok;
    unsigned long start, width;
  } spans[] = {{"5-9", true, 5, 5}, {"9-5", false, 9, 0}, {"5-", false, 5, 0}, {"5", false, 5, 0},
               {"-5", false, 0, 0}, {"7-7", true, 7, 1}, {"1-80 next", true, 1, 80}};
  for (const auto& c : spans) {
    StreamParser parser(c.text, nullptr);
    unsigned long start = 99, width = 99;
    EXPECT_EQ(parser.GetPositions(start, width), c.ok) << c.text;
    EXPECT_EQ(start, c.start) << c.text;
    EXPECT_EQ(width, c.width) << c.text;
  }
}

// A catalog text's integer conversions take the limits in order; anything else stays as written.
TEST(Messages, OnlyIntegerConversionsAreFilled) {
  const struct { const char* text; std::vector<long> limits; const char* filled; } rows[] = {
      {"%d of %i", {64, 7}, "64 of 7"},
      {"%5ld|%-3d|", {42, 1}, "   42|1  |"},
      {"100%% %d", {5}, "100% 5"},
      {"%s %d %d", {3}, "%s 3 %d"},
      {"50%", {}, "50%"},
  };
  for (const auto& row : rows) EXPECT_EQ(drav::messages::FillIntegers(row.text, row.limits), row.filled) << row.text;
}

// The messages no refusal above posts, and tokens taken as they are: a "%" is no conversion, no length overruns.
TEST(Messages, EachHasItsCatalogTextLimitsAndTokenAndALaterErrorReplacesThePendingOne) {
  const std::string huge(5000, 'k');
  const struct {
    unsigned int id;
    bool warning;
    const char *token, *limits;  // limits: what the integer conversions become, in order
  } cases[] = {{2279, false, "/tmp/p", ""},    {2280, false, "/tmp/r", ""},         {2281, false, "inet:h:1", ""},
               {2263, false, "", ""},          {2256, false, "100%", ""},           {2272, false, "%d%s%n", "64 64"},
               {2273, true, huge.c_str(), "64"}, {4242, false, "tok", ""}};
  for (const auto& c : cases) {
    StreamParser parser("", nullptr);
    EXPECT_TRUE(parser.PostErrorMsg(c.id, c.token, c.warning));
    const ErrorTextList& warnings = *parser.GetWarningList();
    const std::string text = c.warning ? (warnings.empty() ? "" : warnings.back().Text().str()) : PendingError(parser);
    EXPECT_EQ(warnings.size(), c.warning ? 1u : 0u);
    EXPECT_EQ(text, CatalogMessage(c.id, c.token, c.warning, c.limits));
    EXPECT_EQ(text.find("has no text") == std::string::npos, c.id != 4242) << text;
  }
  // A later error replaces the pending one; warnings keep their order.
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(2254, "/", false);
  parser.PostErrorMsg(2274, "first", true);
  parser.PostErrorMsg(2256, "PIPE", false);
  parser.PostErrorMsg(2273, "second", true);
  EXPECT_EQ(PendingError(parser), CatalogMessage(2256, "PIPE"));
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].Text().str(), CatalogMessage(2274, "first", true, "40"));
  EXPECT_NE(warnings[1].Text().str().find(" second"), std::string::npos);
  EXPECT_EQ(warnings[0].Number(), 0);
  parser.EmptyErrorTextList();
  EXPECT_TRUE(parser.GetWarningList()->empty());
}

}  // namespace
