// The host runtime's services the plug-in calls: the command tokenizer and token source,
// the name check, the message catalogs, the registry and the UTF-8 string functions.
#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <cstring>
#include <thread>
#include <tuple>

#include "base/Utf8.h"
#include "host/CommandAdapter.h"
#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/DravName.h"
#include "host/DravServerErrorText.h"
#include "host/DravSleep.h"
#include "host/MultiByte.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int W = DACTokenSource::kWord;

// Tokens as "kind:text" words: w a word, q a quoted string, s a slash, e an equals sign.
std::string Shown(const std::vector<CommandToken>& tokens) {
  std::string out;
  for (const CommandToken& t : tokens) {
    const char kind = t.kind == W ? 'w' : t.kind == DACTokenSource::kString ? 'q' : t.kind == DACTokenSource::kSlash ? 's'
                    : t.kind == DACTokenSource::kEquals ? 'e' : '?';
    out += std::string(out.empty() ? "" : " ") + kind + ":" + t.text;
  }
  return out;
}

TEST(CommandTokenizer, SplitsCommandsOrRefusesThemWithASentence) {
  const std::string head = "GET DATA /TYPE=STREAM /";
  const struct {
    std::string text, tokens;
    const char* error;  // a word the refusal must contain; null: accepted
  } cases[] = {
      {"GET DATA /TYPE = STREAM /PIPE = '/tmp/p'.", "w:PIPE e:= q:/tmp/p", nullptr},
      {"get data/type=stream/socket=5000.", "w:socket e:= w:5000", nullptr},
      {"  Get\tData \r\n / Type =\n Stream  /  X .", "w:X", nullptr},
      {head + "PIPE=\"say \"\"hi\"\" it's\".", "w:PIPE e:= q:say \"hi\" it's", nullptr},
      {head + "PIPE='it''s' ''.", "w:PIPE e:= q:it's q:", nullptr},
      {head + "V = a F8.2 b COMMA10.2 d -5 x.y F8.", "w:V e:= w:a w:F8.2 w:b w:COMMA10.2 w:d w:-5 w:x.y w:F8", nullptr},
      {head + "A'b'c/=b==.", "w:A q:b w:c s:/ e:= w:b e:= e:=", nullptr},
      {head + "x A8 . \n\t ", "w:x w:A8", nullptr},
      {head + "x F8.2", "w:x w:F8.2", nullptr},  // no full stop
      {head + "PIPE='a.'.", "w:PIPE e:= q:a.", nullptr},
      {head + "caf\xC3\xA9 '\xC3\xA9'.", "w:caf\xC3\xA9 q:\xC3\xA9", nullptr},
      {"GET DATA /TYPE = STREAM.", "", nullptr},
      {"GET DATA /TYPE = STREAM /.", "", nullptr},
      {"", "", "GET DATA /TYPE = STREAM"},
      {"GET DATA /TYPE = TXT /FILE='x'.", "", "GET DATA /TYPE = STREAM"},
      {"GETDATA /TYPE=STREAM /X.", "", "GET DATA /TYPE = STREAM"},
      {"GET DATA /TYPE=STREAMS /X.", "", "GET DATA /TYPE = STREAM"},
      {"GET DATA TYPE=STREAM /X.", "", "GET DATA /TYPE = STREAM"},
      {"GET DATA /TYPE=STREAM PIPE='x'.", "", "slash"},
      {head + "PIPE='abc.", "", "single quote"},
      {head + "PIPE=\"abc\"\".", "", "double quote"},
      {head + "PIPE='abc", "", "character 29"},
  };
  for (const auto& c : cases) {
    const TokenizeResult result = TokenizeStreamCommand(c.text);
    EXPECT_EQ(Shown(result.tokens), c.tokens) << c.text;
    EXPECT_EQ(result.ok, c.error == nullptr) << c.text;
    if (c.error == nullptr) continue;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_EQ(result.error.back(), '.') << "a sentence ends with a full stop";
  }
}

// As a plug-in takes them: the first token without asking, then ask after each.
std::string Drain(DACTokenSource& source) {
  std::vector<CommandToken> out;
  do {
    const char* text = nullptr;
    unsigned int length = 12345;
    source.NextToken(&text, &length);
    out.push_back({std::string(text, length), source.TokenKind()});
  } while (source.HasMoreTokens() && out.size() < 100);
  return Shown(out);
}

TEST(CommandTokenSource, HandsOutEveryTokenOnceAndCutsOverlongOnesBetweenCharacters) {
  CommandTokenSource source(TokenizeStreamCommand("GET DATA /TYPE=STREAM /PIPE='a b' /X=1.").tokens);
  EXPECT_EQ(Drain(source), "w:PIPE e:= q:a b s:/ w:X e:= w:1");
  CommandTokenSource empty({});
  EXPECT_EQ(Drain(empty).substr(1), ":") << "an empty source hands out one empty token";
  EXPECT_FALSE(empty.HasMoreTokens());
  CommandTokenSource slash({{"/", DACTokenSource::kSlash}});
  EXPECT_EQ(Drain(slash), "s:/");
  slash.NextToken(nullptr, nullptr);
  EXPECT_EQ(slash.TokenKind(), W) << "the empty token past the end is a word";
  CommandTokenSource ascii({{std::string(1500, 'b'), W}});
  EXPECT_EQ(Drain(ascii), "w:" + std::string(1023, 'b')) << "a plug-in's buffer holds 1023 bytes and the NUL";
  std::string longWord = "a";
  while (longWord.size() < 2000) longWord += "\xC3\xA9";
  CommandTokenSource cut({{longWord, W}});
  EXPECT_EQ(Drain(cut), "w:" + longWord.substr(0, 1023)) << "1023 bytes end an é";
  CommandAdapter adapter({}, nullptr);
  EXPECT_EQ(adapter.ResolveFileSpec("~/pipe", false), "~/pipe");
  EXPECT_EQ(adapter.ResolveFileSpec("/tmp/~/p", true), "/tmp/~/p");
  EXPECT_EQ(adapter.ResolveFileSpec("~user/p", true), "~user/p");
  const char* home = std::getenv("HOME");
  EXPECT_EQ(adapter.ResolveFileSpec("~/p", true), home ? std::string(home) + "/p" : "~/p");
}

TEST(DravName, ReservedWordsGiveFiveOtherRefusalsAnotherCode) {
  const std::string longest(64, 'a'), tooLong(65, 'a');
  EXPECT_EQ(ValidateDRAVName(longest.c_str()), kDravNameValid);
  EXPECT_EQ(ValidateDRAVName("AnD"), kDravNameReservedWord);
  for (const char* bad : {"", "_x", ".x", "\xE9", "a b", "caf\xE9", "a\xC3", tooLong.c_str()}) {
    const int code = ValidateDRAVName(bad);
    EXPECT_NE(code, kDravNameValid) << bad;
    EXPECT_NE(code, kDravNameReservedWord) << bad;
  }
  EXPECT_NE(ValidateDRAVName(nullptr), kDravNameValid);
}

TEST(Catalog, TextsComeWithTheirNumberAndAMissingOneSaysSo) {
  drav::test::TempDir dir;
  dir.WriteFile("test.err", "# a comment\r\n100\tFirst message.\r\n\r\n12x\tnot an identifier\nno tab\n"
                            "200\tSecond\twith a tab.\n#300\tcommented out\n");
  const std::string real = DravServerErrorText("korvel.err", 2255).GetText();
  EXPECT_EQ(real.rfind("[2255] ", 0), 0u) << "the real catalogs are found without configuration: " << real;
  EXPECT_NE(real.find("VARIABLES"), std::string::npos) << real;
  DravServerErrorText::SetCatalogDir(dir.Path());
  const struct {
    const char* file;
    long id;
    std::string starts, holds;  // what the text starts with, and holds
  } cases[] = {{"test.err", 100, "[100] First message.", ""}, {"test.err", 200, "[200] Second\twith a tab.", ""},
               {"test.err", 300, "[300] ", "has no text for this message"},
               {"test.err", 12, "[12] ", "has no text for this message"},
               {"absent.err", 7, "[7] ", "could not be read"}};
  for (const auto& c : cases) {
    const std::string text = DravServerErrorText(c.file, c.id).GetText();
    EXPECT_EQ(text.substr(0, c.starts.size()), c.starts);
    EXPECT_NE(text.find(c.holds), std::string::npos) << text;
  }
  DravServerErrorText::SetCatalogDir("");
  EXPECT_EQ(DravServerErrorText("korvel.err", 2255).GetText(), real) << "the default comes back";
}

// Counts live instances: an ownership mistake shows as a wrong count (a leak, in ASan).
struct CountedSource : DRAV_DataSource {
  explicit CountedSource(int tag) : DRAV_DataSource(nullptr), tag(tag) { ++live; }
  ~CountedSource() override {  // a source's destructor may use the registry: it runs outside the registry's lock
    --live;
    ServerDataManager::GetInstance().Count();
  }
  const int tag;
  static inline int live = 0;
};

TEST(Registry, KeepsOrderReplacesByNameAndHandsOwnershipBack) {
  ServerDataManager& registry = ServerDataManager::GetInstance();
  const auto tags = [&] {
    std::string out;
    for (std::size_t i = 0; i < registry.Count(); ++i) out += std::to_string(static_cast<const CountedSource*>(registry.Get(i))->tag);
    return out;
  };
  EXPECT_EQ(registry.TakeLast(), nullptr);
  for (const auto& [tag, name, replace] : {std::tuple(1, "data", false), {2, "", false}, {3, "data", false},
                                           {4, "data", true}, {5, "", true}})
    registry.Add(*new CountedSource(tag), name, replace);  // no replace keeps both; an empty name never replaces
  EXPECT_EQ(registry.Add(*registry.Get(3), "", false), 3) << "the same source added again keeps one owner";
  EXPECT_EQ(tags(), "4235") << "the first of that name is replaced";
  EXPECT_EQ(std::string(registry.NameOf(0)), "data");
  std::unique_ptr<DRAV_DataSource> middle = registry.Take(1), last = registry.TakeLast();
  EXPECT_EQ(static_cast<CountedSource&>(*middle).tag, 2);
  EXPECT_EQ(static_cast<CountedSource&>(*last).tag, 5);
  // What a host asks of any source first: the base splits nothing, has no data and no parent.
  EXPECT_EQ(middle->GetNSplitVars(), 0);
  EXPECT_EQ(middle->GetSplitVarIndex(0), -1);
  EXPECT_EQ(middle->GetSplitVarID(0), -1);
  EXPECT_FALSE(middle->GetSplitqSeparate());
  EXPECT_EQ(middle->MakeIterator(nullptr), nullptr);
  EXPECT_EQ(middle->RowCount(), -1);
  EXPECT_FALSE(middle->IsLoaded());
  EXPECT_EQ(middle->NParents(), 0);
  EXPECT_EQ(DRAV_DataSource(middle.get()).NParents(), 1);
  EXPECT_EQ(OBS(1).Bytes(), 8u) << "a case buffer of one slot";
  DRAV_InputCaseIterator none(*middle, nullptr);  // the base iterator: no seeking, no cases
  EXPECT_EQ(none.IsSeekOK(), 0);
  EXPECT_EQ(none.Seek(5), 0);
  EXPECT_EQ(none.Tell(), 0);
  EXPECT_EQ(none.Next(), 0);
  EXPECT_EQ(registry.Take(registry.Count()), nullptr);
  registry.Release(0);
  registry.Release(9);  // out of range: nothing happens
  EXPECT_EQ(tags(), "3");
  EXPECT_EQ(CountedSource::live, 3);
  middle.reset();
  last.reset();
  registry.ReleaseAll();
  EXPECT_EQ(CountedSource::live, 0);
}

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(MultiByte, ComparesCountsAndFoldsCaseByCharacters) {
#define CALL(call, expected) {#call, Sign(call), expected}
  const struct {
    const char* call;
    int got, expected;
  } cases[] = {
      CALL(DRAVMBstricmp_A("Pipe", "pIPE"), 0), CALL(DRAVMBstricmp_A("caf\xC3\xA9", "CAF\xC3\x89"), 0),
      CALL(DRAVMBstricmp_A("\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92"), 0), CALL(DRAVMBstricmp_A("cafe", "caf\xC3\xA9"), -1),
      CALL(DRAVMBstricmp_A("caf\xE9", "caf\xC3\xA9") != 0, 1), CALL(DRAVMBstricmp_A("abc", "ABD"), -1),
      CALL(DRAVMBstricmp_A("b", "A"), 1), CALL(DRAVMBstricmp_A("ab", "ABC"), -1), CALL(DRAVMBstrcmp_A("a", "A"), 1),
      CALL(DRAVMBstrnicmp_A("\xC3\xA9" "aX", "\xC3\x89" "Ay", 2), 0),
      CALL(DRAVMBstrnicmp_A("\xC3\xA9" "aX", "\xC3\x89" "Ay", 3), -1), CALL(DRAVMBstrnicmp_A("PIPE=x", "pipe", 4), 0),
      CALL(DRAVMBstrnicmp_A("PIP", "pipe", 4), -1), CALL(DRAVMBstrnicmp_A("anything", "else", 0), 0),
      CALL(DRAVMBstrnbcmp_A("/a", "/b", 1), 0), CALL(DRAVMBstrnbcmp_A("/a", "/b", 2), -1),
      CALL(DRAVMBstrnbcmp_A("ab", "AB", 2), 1),
      // Spans count bytes against sets of whole characters: è shares é's lead byte.
      CALL(static_cast<int>(DRAVMBstrcspn_A("abc def", " \t")) - 3, 0),
      CALL(static_cast<int>(DRAVMBstrspn_A("  \tx", " \t")) - 3, 0),
      CALL(static_cast<int>(DRAVMBstrspn_A("\xC3\xA9\xC3\xA9x", "\xC3\xA9")) - 4, 0),
      CALL(static_cast<int>(DRAVMBstrcspn_A("\xC3\xA8\xC3\xA9", "\xC3\xA9")) - 2, 0),
      CALL(static_cast<int>(DRAVMBstrspn_A("\xC3\xA8\xC3\xA9", "\xC3\xA9")), 0),
      CALL(static_cast<int>(DRAVMBstrcspn_A("nothing", "/=")) - 7, 0),
      CALL(DRAVMBstrrchr_A("none", '"') == nullptr, 1),
      CALL(static_cast<int>(drav::utf8::CharLength("\xE0\x9F\xBF")) - 1, 0),
      CALL(static_cast<int>(drav::utf8::CharLength("\xF4\x90\x80\x80")) - 1, 0),
  };
#undef CALL
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.call;
  const struct {
    const char *in, *out;
  } upper[] = {{"pipe", "PIPE"}, {"caf\xC3\xA9_1", "CAF\xC3\x89_1"}, {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92"},
               {"stra\xC3\x9F" "e", "STRA\xC3\x9F" "E"}, {"\xC4\xB1x", "\xC4\xB1X"}, {"a\xFF" "b", "A\xFF" "B"}};
  for (const auto& c : upper) {  // in place: a character that would change its length stays
    std::string buffer(c.in);
    DRAVMBstrupr_A(&buffer[0]);
    EXPECT_EQ(buffer, c.out);
  }
  const char quoted[] = "\"a\xC3\xA9\"b\"";
  EXPECT_EQ(DRAVMBstrrchr_A(quoted, '"'), quoted + 6);
  char dst[] = "zzzzzzzz";
  DRAVMBstrncpy_A(dst, "abcdef", 3);
  EXPECT_EQ(std::string(dst, 8), "abczzzzz");
  EXPECT_EQ(DRAVMBstrcpy_A(dst, "xy"), dst);
  EXPECT_EQ(std::string(dst, 4), std::string("xy\0z", 4));
  DRAVMBstrncpy_A(dst, "ab", 5);
  EXPECT_EQ(std::string(dst, 4), std::string("ab\0z", 4)) << "nothing is written after the NUL";
}

TEST(Utf8, StepsWholeCharactersNeverPastTheNulAndDecodesWhatItEncodes) {
  const char text[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const char* p = text;
  for (std::size_t step : {1, 2, 3, 4}) {
    const char* next = DRAVMBstrinc_A(p);
    EXPECT_EQ(static_cast<std::size_t>(next - p), step);
    p = next;
  }
  EXPECT_EQ(DRAVMBstrinc_A(p), p) << "at the NUL";
  // Sequences cut by the NUL, and invalid bytes, step one byte at a time.
  for (const char* cut : {"\xE2\x82", "\xF0\x9F", "\xC3", "\x80", "\xFF", "\xC0\xAF"}) {
    const char* at = cut;
    for (int guard = 0; *at != '\0' && guard < 16; ++guard) at = DRAVMBstrinc_A(at);
    EXPECT_EQ(at, cut + std::strlen(cut));
  }
  // Each encoded length at its edges, and a character whose lead and continuation bits differ (U+4E2D).
  for (unsigned int cp : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0x4E2Du, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    char bytes[5] = {};
    const std::size_t length = drav::utf8::Encode(cp, bytes);
    EXPECT_EQ(drav::utf8::CharLength(bytes), length) << std::hex << cp;
    EXPECT_EQ(drav::utf8::Decode(bytes, length), cp) << std::hex << cp;
  }
}

// A sleep lasts at least what was asked, also when a signal cuts it short partway.
TEST(DravSleep, SleepsAtLeastTheTimeAskedThroughASignal) {
  signal(SIGUSR1, [](int) {});
  const pthread_t sleeper = pthread_self();
  std::thread interrupter([sleeper] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(sleeper, SIGUSR1);
  });
  const auto start = std::chrono::steady_clock::now();
  DRAV_msleep(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  interrupter.join();
  signal(SIGUSR1, SIG_DFL);
}

}  // namespace
