// The entry point: command text rebuilt from the host's tokens; whole commands through the host's
// parts and a real feeder to the messages its callback receives; the plug-in unloaded.
#include <dlfcn.h>

#include <filesystem>

#include "entry/CommandTextBuilder.h"
#include "host/DravServerErrorText.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/StreamSupport.h"

namespace drav::test {
namespace {

constexpr int W = DACTokenSource::kWord, Q = DACTokenSource::kString, E = DACTokenSource::kEquals;
const std::string kHead = "GET DATA /TYPE = STREAM  /";

std::vector<CommandToken> Words(std::initializer_list<const char*> words) {
  std::vector<CommandToken> tokens;
  for (std::string w : words) tokens.push_back({w, w == "/" ? DACTokenSource::kSlash : w == "=" ? E : W});
  return tokens;
}

// A host's token source that hands every token out whole, however long.
class WholeTokens : public DACTokenSource {
 public:
  explicit WholeTokens(std::vector<CommandToken> tokens) : tokens_(std::move(tokens)) {
    if (tokens_.empty()) tokens_.push_back({"", W});  // the first token is taken without asking
  }
  bool HasMoreTokens() override { return next_ < tokens_.size(); }
  int TokenKind() override { return tokens_[next_ - 1].kind; }
  void NextToken(const char** text, unsigned int* length) override {
    next_ = std::min(next_ + 1, tokens_.size());
    *text = tokens_[next_ - 1].text.data();
    *length = static_cast<unsigned int>(tokens_[next_ - 1].text.size());
  }

 private:
  std::vector<CommandToken> tokens_;
  std::size_t next_ = 0;
};

TEST(RebuildTest, PutsBackBlanksAndQuotesAndCutsLongTokens) {
  const std::string cut = std::string(1022, 'a') + "\xC3\xA9tail";  // é would straddle byte 1023
  const struct {
    const char* name;
    std::vector<CommandToken> tokens;
    std::string body;  // between the head and "\n."
  } cases[] = {
      {"pipe value quoted, minus glued", Words({"PIPE", "=", "P", "/", "VARIABLES", "=", "a", "1", "-5"}),
       "PIPE = 'P' /VARIABLES = a 1-5"},
      {"lower-case pipe", Words({"pipe", "=", "/tmp/x"}), "pipe = '/tmp/x'"},
      {"pipe string single-quoted", {{"PIPE", W}, {"=", 3}, {"/tmp/a b", Q}}, "PIPE = '/tmp/a b'"},
      {"only the first token after PIPE =", Words({"PIPE", "=", "P", "SEEKABLE"}), "PIPE = 'P' SEEKABLE"},
      {"STREAM literal double-quoted", {{"X", W}, {"STREAM", W}, {"=", 3}, {"T", Q}, {"Y", W}}, "X STREAM=\"T\" Y"},
      {"STREAM literal holding \"", {{"STREAM", W}, {"=", 3}, {"a\"b", Q}}, "STREAM='a\"b'"},
      {"STREAM word not quoted", Words({"STREAM", "=", "T"}), "STREAM=T"},
      {"VARIABLES after = is no keyword", {{"A", W}, {"=", 3}, {"VARIABLES", W}, {"STREAM", W}, {"=", 3}, {"T", Q}},
       "A = VARIABLES STREAM=\"T\""},
      {"STREAM after VARIABLES ordinary", {{"VARIABLES", W}, {"=", 3}, {"STREAM", W}, {"=", 3}, {"T", Q}},
       "VARIABLES = STREAM = T"},
      {"no blank after slash", Words({"SEEKABLE", "/", "REWINDABLE"}), "SEEKABLE /REWINDABLE"},
      {"no tokens", {}, ""},
      {"cut before a character", {{cut, W}}, std::string(1022, 'a')},
      {"cut at 1023 bytes", {{std::string(1500, 'b'), W}}, std::string(1023, 'b')},
      {"no character to cut at", {{std::string(1500, '\x80'), W}, {"x", W}}, " x"},
  };
  for (const auto& c : cases) {
    WholeTokens source(c.tokens);
    EXPECT_EQ(entry::RebuildCommandText(source), kHead + c.body + "\n.") << c.name;
  }
  // The host's own source cuts a token at 1023 bytes with no NUL behind: the stray
  // continuation byte there takes no byte of the token along.
  CommandTokenSource host(TokenizeStreamCommand(kHead + std::string(1023, 'b') + "\x80.").tokens);
  EXPECT_EQ(entry::RebuildCommandText(host), kHead + std::string(1023, 'b') + "\n.");
}

class EntryTest : public testing::Test {
 protected:
  void SetUp() override {
    DravServerErrorText::SetCatalogDir(DRAV_SOURCE_DIR "/catalogs");
    ServerDataManager::GetInstance().ReleaseAll();
  }
  void TearDown() override { ServerDataManager::GetInstance().ReleaseAll(); }
  Watchdog watchdog_{60, "entry test"};
  TempDir dir_;
};

TEST_F(EntryTest, AcceptedCommandRegistersTheSourceAndReportsItsWarnings) {
  const std::vector<std::string> records = TestRecords(2);
  auto feeder = TestFeeder::OverSocket(records);
  const std::string port = feeder->StreamName().substr(feeder->StreamName().rfind(':') + 1);
  HostRun run = RunHostCommand("get data /type = stream /socket = " + port + " /host = '127.0.0.1' /variables = " +
                               std::string(70, 'v') + " F8.2 s A10 " + std::string(66, 'y') + " F8.2.");
  ASSERT_TRUE(run.accepted);
  ASSERT_NE(run.source, nullptr);
  EXPECT_EQ(ServerDataManager::GetInstance().Count(), 0u) << "the one source registered was taken back";
  ASSERT_EQ(run.messages.size(), 2u);
  EXPECT_EQ(run.messages[0].first.rfind("[2273]", 0), 0u) << run.messages[0].first;
  EXPECT_NE(run.messages[0].first.find(std::string(70, 'v')), std::string::npos);
  EXPECT_NE(run.messages[1].first.find(std::string(66, 'y')), std::string::npos);
  for (const auto& message : run.messages) EXPECT_EQ(message.second, 0) << "not a warning: " << message.first;
  EXPECT_EQ(ReadPass(*run.source), records);
}

// A refusal, from the parser or the open, reaches the host as one error, no warning, no source.
TEST_F(EntryTest, RefusedCommandReportsExactlyOneError) {
  const std::string closedPort = std::to_string(LoopbackPort().port);  // listened on, and closed again
  const std::string longName(70, 'v');
  const struct {
    std::string command, id, mentions;
  } cases[] = {
      {"GET DATA /TYPE = STREAM /PIPE = '/tmp/x' /VARIABLES = " + longName + " F8.2 " + longName + " F8.2.", "[2272]",
       std::string(64, 'v')},
      {"GET DATA /TYPE = STREAM /SOCKET = " + closedPort + " /HOST = '127.0.0.1' /VARIABLES = n F8.2.", "[2281]",
       "inet:127.0.0.1:" + closedPort},
  };
  for (const auto& c : cases) {
    HostRun run = RunHostCommand(c.command);
    EXPECT_FALSE(run.accepted);
    EXPECT_EQ(ServerDataManager::GetInstance().Count(), 0u);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].second, 1);
    EXPECT_EQ(run.messages[0].first.rfind(c.id, 0), 0u) << run.messages[0].first;
    EXPECT_NE(run.messages[0].first.find(c.mentions), std::string::npos) << run.messages[0].first;
  }
}

bool Mapped(const std::string& file) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.size() > file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0) return true;
  return false;
}

// Loaded, used, unloaded as a server does: after dlclose nothing pins the plug-in (thread, unique symbol).
TEST_F(EntryTest, PluginIsUnmappedAfterItsCommandAndDlclose) {
  const std::string library = std::filesystem::canonical(DRAV_BINARY_DIR "/lib/libdravstream.so");
  ASSERT_FALSE(Mapped(library));
  void* plugin = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  const auto entry = reinterpret_cast<bool (*)(DACAdapterBase*)>(dlsym(plugin, "ProcessDACSyntax"));
  ASSERT_NE(entry, nullptr);
  const std::vector<std::string> records = TestRecords(3);
  {
    auto feeder = TestFeeder::OverPipe(dir_, false, records);
    HostRun run = RunHostCommand(PipeCommand(feeder->StreamName()), entry);
    ASSERT_NE(run.source, nullptr);
    EXPECT_EQ(ReadPass(*run.source), records);
  }
  EXPECT_TRUE(Mapped(library));
  EXPECT_EQ(dlclose(plugin), 0);
  EXPECT_FALSE(Mapped(library)) << "dlclose left the plug-in mapped";
}

// The same in dravrun, where no other library defines the plug-in's unique symbols first (here one does).
TEST_F(EntryTest, DravrunUnloadsThePluginAfterItsCommand) {
  auto feeder = TestFeeder::OverPipe(dir_, false, TestRecords(3));
  const ProcessResult run = RunProcess({"/usr/bin/env", "LD_DEBUG=files", BinaryPath("dravrun"), "--no-progress",
                                        "--output", "none", PipeCommand(feeder->StreamName())});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("libdravstream.so [0];  destroying link map"), std::string::npos) << run.err;
}

// The libraries where a package puts them, the catalogs missing: a message names the folder that should hold them.
TEST_F(EntryTest, MessagesWithoutCatalogsNameWhereTheCatalogsBelong) {
  const std::string lib = dir_.File("lib/dravstream");
  std::filesystem::create_directories(lib);
  for (const std::string library : {"/libdravhost.so", "/libdravstream.so"})
    std::filesystem::copy_file(DRAV_BINARY_DIR "/lib" + library, lib + library);
  const ProcessResult run = RunProcess({"/usr/bin/env", "-u", "DRAVSTREAM_CATALOGS", "LD_LIBRARY_PATH=" + lib,
                                        BinaryPath("dravrun"), "--plugin", lib + "/libdravstream.so",
                                        "GET DATA /TYPE = STREAM /PIPE = 'p' /VARIABLES = a Q8 ."});
  EXPECT_EQ(run.exitCode, 1);
  const std::string catalogs = dir_.Path() + "/share/dravstream/catalogs";
  EXPECT_NE(run.err.find("korvel.err could not be read from " + catalogs), std::string::npos) << run.err;
}

}  // namespace
}  // namespace drav::test
