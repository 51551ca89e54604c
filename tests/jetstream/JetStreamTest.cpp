// A JetStream stream as the case log: real nats-server and dravfeed processes on loopback, a
// reader written from the wire protocol, a cluster losing one server at a time, credentials, TLS.
#include <nats/nats.h>

#include <map>
#include <sstream>

#include <gmock/gmock.h>

#include "dravfeed/JetStreamCases.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav::test {
namespace {

using feed::ByteOrder;
using ::testing::HasSubstr;
using ::testing::Not;

// The next line of the child's standard error that contains `text`; empty if none comes.
std::string LineWith(ChildProcess& child, const std::string& text) {
  std::string line;
  while (child.ReadLine(line, ChildProcess::kErr))
    if (line.find(text) != std::string::npos) return line;
  return "";
}

// Asks `check` every 100 ms until it holds; false after `seconds`.
bool Eventually(const std::function<bool()>& check, int seconds) {
  for (int tries = 0; tries < seconds * 10; ++tries) {
    if (check()) return true;
    poll(nullptr, 0, 100);
  }
  return false;
}

class NatsServer {
 public:
  // `config` is added to the configuration file (nats-server's own syntax).
  explicit NatsServer(const std::string& config = "") : config_(config) { Start("-1"); }
  std::string Address(const std::string& scheme = "nats://") const {
    return scheme + "127.0.0.1:" + std::to_string(port_);
  }
  std::string Url(const std::string& stream) const { return Address() + "/" + stream; }
  void Kill() { process_->Signal(SIGKILL), process_->Wait(); }
  // How many of the log lines written since the last look hold `text`.
  int LogLines(const std::string& text) {
    int count = 0;
    for (std::string line; process_->ReadLine(line, ChildProcess::kErr, 500);)
      count += line.find(text) != std::string::npos;
    return count;
  }
  // Starts again with the same store and client port, and with `config` instead if given.
  void Restart(const char* config = nullptr) {
    if (config) config_ = config;
    Start(std::to_string(port_));
  }
  // In a cluster: its JetStream is current with the leader (which a server that joins after the election need not log).
  bool Healthy() const {
    const char kOk[] = "import sys, urllib.request as u; sys.exit(b'\"ok\"' not in u.urlopen(sys.argv[1]).read())";
    return RunProcess({"/usr/bin/python3", "-c", kOk, "http://127.0.0.1:" + std::to_string(monitor_) + "/healthz"})
               .exitCode == 0;
  }

 private:
  void Start(const std::string& port) {
    const std::string file =
        dir_.WriteFile("server.conf", "listen: 127.0.0.1:" + port + "\nhttp: 127.0.0.1:-1\njetstream { store_dir: \"" +
                                          dir_.File("store") + "\" }\n" + config_ + "\n");
    // Debian puts the server in /usr/sbin, which a user's PATH may lack.
    const char* program = access("/usr/sbin/nats-server", X_OK) ? "nats-server" : "/usr/sbin/nats-server";
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{program, "-c", file});
    const std::string monitor = LineWith(*process_, "Starting http monitor on");
    monitor_ = std::atoi(monitor.c_str() + monitor.rfind(':') + 1);
    const std::string line = LineWith(*process_, "Listening for client connections on");
    port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    LineWith(*process_, "Server is ready");
  }

  TempDir dir_;
  std::string config_;
  int port_ = 0, monitor_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// `dravfeed --info` of the stream ("" when the stream cannot be asked now).
std::string Info(const std::string& url) {
  const ProcessResult info = RunProcess(Dravfeed({"--info", url}));
  return info.exitCode == 0 ? info.out : "";
}

const char kVariables[] = "x F8 when DATE name A8 y F8";
const std::size_t kRecordBytes = feed::VariableList::Parse(kVariables).RecordBytes();
const std::string kRewind(wire::kRewind, wire::kControlWordBytes);

std::string Generated(std::int64_t first, std::int64_t n, ByteOrder order = ByteOrder::kNative) {
  return GeneratedRecords(kVariables, first, n, order);
}

double NumberAt(const std::string& records, std::size_t recordBytes, std::size_t i) {
  double x = 0;
  std::memcpy(&x, &records[i * recordBytes], sizeof x);
  return x;
}

// CSV lines of one number: first .. end - 1.
std::string Lines(int first, int end) {
  std::string text;
  for (int i = first; i < end; ++i) text += std::to_string(i) + "\n";
  return text;
}

void Publish(const NatsServer& server, std::int64_t count, const std::string& order = "native",
             std::vector<std::string> more = {}) {
  more.insert(more.begin(), {"--publish", server.Url("cases"), "--create", "--variables", kVariables, "--generate",
                             std::to_string(count), "--byte-order", order});
  const ProcessResult run = RunProcess(Dravfeed(more));
  ASSERT_EQ(run.exitCode, 0) << run.err;
}

struct Served {
  std::unique_ptr<ChildProcess> process;
  int port = 0;
};

Served Serve(const NatsServer& server, std::vector<std::string> more = {}) {
  more.insert(more.begin(),
              {"--socket", "0", "--from", server.Url("cases"), "--variables", kVariables});  // a later --linger wins
  Served served{std::make_unique<ChildProcess>(Dravfeed(more))};
  served.port = served.process->DravfeedPort();
  return served;
}

// One pass on a new connection: the first gets the probe; a later one sends RWND or SEEK.
std::string Pass(int port, const std::string& control = std::string()) {
  WireReader reader(port);
  if (control.empty()) {
    reader.Begin();
  } else {
    reader.Connect();
    reader.Send(control);
  }
  return reader.ReadToEnd();
}

// One pass during which `server` is killed once the first bytes came; `reset`: how it ended.
std::string PassKillingMidway(int port, NatsServer& server, bool* reset = nullptr) {
  WireReader reader(port);
  reader.Begin();
  std::string records = reader.Read(4096);
  server.Kill();
  records += reader.ReadToEnd();
  if (reset) *reset = reader.EndedByReset();
  return records;
}

class JetStream : public ::testing::Test {
 protected:
  Watchdog watchdog_{90, "a JetStream test"};
  NatsServer server_;
};

class ReadBack : public JetStream, public ::testing::WithParamInterface<std::pair<const char*, ByteOrder>> {};

TEST_P(ReadBack, TwoPassesAndSeeksGiveTheExactCasesInTheReadersOrder) {
  const std::int64_t total = 3 * 512 + 100;  // three whole messages and a short one
  Publish(server_, total, GetParam().first);
  auto feed = Serve(server_, {"--byte-order", GetParam().second == ByteOrder::kSwapped ? "swapped" : "native"});
  const std::string all = Generated(0, total, GetParam().second);
  EXPECT_TRUE(Pass(feed.port) == all);
  EXPECT_TRUE(Pass(feed.port, kRewind) == all);
  // The first message, inside the second, its last case, the stream's last.
  for (std::int64_t seek : {std::int64_t{3}, std::int64_t{700}, std::int64_t{1023}, total - 1})
    EXPECT_TRUE(Pass(feed.port, SeekMessage(seek)) == all.substr(seek * kRecordBytes)) << "seek " << seek;
  EXPECT_TRUE(Pass(feed.port, SeekMessage(total)).empty());
  const ProcessResult end = feed.process->Wait();
  EXPECT_EQ(end.exitCode, 0) << end.err;
}

INSTANTIATE_TEST_SUITE_P(PublishedAndServedOrders, ReadBack,
                         ::testing::Values(std::make_pair("native", ByteOrder::kNative),
                                           std::make_pair("native", ByteOrder::kSwapped),
                                           std::make_pair("swapped", ByteOrder::kNative)));

TEST_F(JetStream, OtherVariableListIsRefusedOnBothSides) {
  Publish(server_, 10);
  const std::string url = server_.Url("cases"), other = "x F8 when DATE name A9 y F8";
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"--from", url, "--socket", "0"}, {"--publish", url, "--generate", "3"}}) {
    arguments.insert(arguments.end(), {"--variables", other});
    const ProcessResult run = RunProcess(Dravfeed(arguments));
    EXPECT_EQ(run.exitCode, 1) << arguments[0];
    EXPECT_THAT(run.err, HasSubstr("\"" + std::string(kVariables) + "\", not \"" + other + "\""));
  }
}

TEST(JetStreamRefusal, AnUnreachableServerIsNamedWithTheClientsReason) {
  Watchdog watchdog(30, "a JetStream test");
  const ProcessResult run =
      RunProcess(Dravfeed({"--socket", "0", "--from", "nats://127.0.0.1:1/cases", "--variables", kVariables}));
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.err, "dravfeed: cannot connect to the NATS server nats://127.0.0.1:1: No server available for connection\n");
}

// The value after "KEY: " in `dravfeed --info` of the stream.
std::string InfoField(const std::string& url, const std::string& key) {
  const std::string info = "\n" + Info(url), prefix = "\n" + key + ": ";
  const std::size_t at = info.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t start = at + prefix.size();
  return info.substr(start, info.find('\n', start) - start);
}

// The live producer's next batch finds its place taken by a third producer: it goes after the third's cases.
TEST_F(JetStream, TwoProducersAtOnceNeitherInterleaveNorLoseCases) {
  TempDir dir;
  const int perProducer = 20000, half = perProducer / 2;
  const std::string url = server_.Url("ids");
  auto publish = [&](const std::string& csv) {
    return Dravfeed({"--publish", url, "--create", "--variables", "id F8", "--csv", csv});
  };
  ChildProcess live(publish("-"), Lines(0, half), true);
  ASSERT_EQ(RunProcess(publish(dir.WriteFile("1", Lines(1000000, 1000000 + perProducer)))).exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return InfoField(url, "cases") == std::to_string(perProducer + half); }, 30));
  ASSERT_EQ(RunProcess(publish(dir.WriteFile("2", Lines(2000000, 2000005)))).exitCode, 0);
  live.WriteInput(Lines(half, perProducer));
  live.CloseInput();
  ASSERT_EQ(live.Wait().exitCode, 0);
  ChildProcess feed(Dravfeed({"--socket", "0", "--from", url, "--variables", "id F8"}));
  const std::string records = Pass(feed.DravfeedPort());
  ASSERT_EQ(records.size(), (2u * perProducer + 5) * 8);
  // Each producer's cases all there in its order; the others' only between batches.
  std::map<int, int> next;
  for (std::size_t i = 0; i < records.size() / 8; ++i) {
    const int whole = static_cast<int>(NumberAt(records, 8, i));
    ASSERT_EQ(whole % 1000000, next[whole / 1000000]++) << "case " << i;
  }
  EXPECT_EQ(feed.Wait().exitCode, 0);
}

TEST_F(JetStream, DeletedMessageEndsThePassAtTheLastWholeCaseBeforeIt) {
  Publish(server_, 4 * 512);
  natsConnection* connection = nullptr;  // no producer of ours deletes: the client does
  jsCtx* context = nullptr;
  ASSERT_EQ(natsConnection_ConnectTo(&connection, server_.Address().c_str()), NATS_OK);
  ASSERT_EQ(natsConnection_JetStream(&context, connection, nullptr), NATS_OK);
  EXPECT_EQ(js_DeleteMsg(context, "cases", 3, nullptr, nullptr), NATS_OK);
  auto feed = Serve(server_);
  const std::string before = Generated(0, 2 * 512);
  EXPECT_TRUE(Pass(feed.port) == before);
  jsStreamInfo* info = nullptr;
  ASSERT_EQ(js_GetStreamInfo(&info, context, "cases", nullptr, nullptr), NATS_OK);
  EXPECT_EQ(info->State.Consumers, 0) << "the break left its consumer open";
  jsStreamInfo_Destroy(info);
  EXPECT_TRUE(Pass(feed.port, kRewind) == before);
  // A seek before the gap still works; one past it finds the gap at once.
  EXPECT_TRUE(Pass(feed.port, SeekMessage(600)) == before.substr(600 * kRecordBytes));
  EXPECT_TRUE(Pass(feed.port, SeekMessage(1100)).empty());
  const ProcessResult end = feed.process->Wait();
  EXPECT_EQ(end.exitCode, 3);
  EXPECT_THAT(end.err, HasSubstr("breaks at case 1024: message 3 is missing"));
  // A program that renders the cases itself gets zeros for those the break
  // left unread, never what its buffer held before.
  std::string problem;
  feed::JetStreamReadOptions read;
  read.onProblem = [&](const std::string& text) { problem = text; };
  auto open = [&] {
    return feed::JetStreamCases(server_.Url("cases"), feed::VariableList::Parse(kVariables), ByteOrder::kNative, read);
  };
  feed::JetStreamCases cases = open(), measured = open();
  std::string rendered(4 * 512 * kRecordBytes, 'x');
  cases.Render(0, 4 * 512, &rendered[0]);
  EXPECT_TRUE(rendered == before + std::string(2 * 512 * kRecordBytes, '\0'));
  // A stream that lost cases it had counted serves none of it, and says why.
  EXPECT_EQ(js_PurgeStream(context, "cases", nullptr, nullptr), NATS_OK);
  measured.Render(0, 1, &rendered[0]);
  EXPECT_THAT(problem, HasSubstr("case 0: the stream holds none of its messages any more;"));
  open().Render(0, 1, &rendered[0]);
  EXPECT_THAT(problem, HasSubstr("case 0: the stream is empty;"));
  cases.PassStarts();
  EXPECT_EQ(cases.CaseCount(), 0);
  EXPECT_THAT(problem, HasSubstr("where it held 2048: cases it acknowledged are gone"));
  jsCtx_Destroy(context);
  natsConnection_Destroy(connection);
}

TEST_F(JetStream, AServerKilledMidPassEndsThePassCleanlyAndALaterPassWorks) {
  const std::int64_t total = 400000;
  Publish(server_, total);
  auto feed = Serve(server_, {"--linger", "30"});
  bool reset = false;
  const std::string first = PassKillingMidway(feed.port, server_, &reset);
  // Whatever came is whole cases, each the right one.
  ASSERT_EQ(first.size() % kRecordBytes, 0u);
  const std::int64_t got = static_cast<std::int64_t>(first.size() / kRecordBytes);
  EXPECT_TRUE(first == Generated(0, got));
  if (got < total) {
    EXPECT_TRUE(reset) << "a pass the server's death broke off ended as if finished";
    EXPECT_THAT(LineWith(*feed.process, "breaks at case"),
                HasSubstr("the server " + server_.Address() + " sent nothing for 2000 ms"));
  }
  server_.Restart();
  EXPECT_TRUE(Pass(feed.port, kRewind) == Generated(0, total));
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

// The stream has no message yet when the feeder starts: it waits for them.
TEST_F(JetStream, FollowSeesCasesPublishedAfterTheReaderStarted) {
  Publish(server_, 0);
  auto feed = Serve(server_, {"--follow"});
  {
    WireReader reader(feed.port);
    reader.Begin();
    Publish(server_, 700);
    EXPECT_TRUE(reader.Read(700 * kRecordBytes) == Generated(0, 700));
    // Another producer's cases 0..299 are the stream's 700..999.
    Publish(server_, 300);
    EXPECT_TRUE(reader.Read(300 * kRecordBytes) == Generated(0, 300));
  }
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

TEST_F(JetStream, AStreamItsLimitsTrimmedAtTheFrontIsServedFromItsFirstCaseOnly) {
  Publish(server_, 4 * 512, "native", {"--max-bytes", "40K", "--max-age", "2d"});  // room for two messages of 16 KiB
  EXPECT_THAT(Info(server_.Url("cases")), AllOf(HasSubstr("first case: 1024\nlast case: 2047\n"),
                                                HasSubstr("max age: 172800 s\nmax bytes: 40960\n")));
  auto feed = Serve(server_);
  EXPECT_TRUE(Pass(feed.port).empty());
  const ProcessResult end = feed.process->Wait();
  EXPECT_EQ(end.exitCode, 3);
  EXPECT_THAT(end.err, HasSubstr("holds no case before 1024: the stream's limits"));
  auto later = Serve(server_, {"--start", "1024"});
  EXPECT_TRUE(Pass(later.port) == Generated(1024, 1024));
  EXPECT_EQ(later.process->Wait().exitCode, 0);
}

TEST_F(JetStream, StartingAtTheEndOrBeforeItCountsCasesFromThere) {
  Publish(server_, 700, "native", {"--max-age", "1h", "--max-bytes", "10M", "--storage", "memory"});
  for (const char* line : {"storage: memory\n", "max age: 3600 s\n", "max bytes: 10485760\n", "cases: 700\n",
                           "first case: 0\nlast case: 699\n", "variables: x F8 when DATE name A8 y F8\n"})
    EXPECT_THAT(Info(server_.Url("cases")), HasSubstr(line));
  {
    auto feed = Serve(server_, {"--start", "-100"});
    EXPECT_TRUE(Pass(feed.port) == Generated(600, 100));
    EXPECT_TRUE(Pass(feed.port, SeekMessage(10)) == Generated(610, 90));
    EXPECT_EQ(feed.process->Wait().exitCode, 0);
  }
  auto feed = Serve(server_, {"--follow", "--start", "end"});
  {
    WireReader reader(feed.port);
    reader.Begin();
    TempDir dir;
    const ProcessResult run = RunProcess(Dravfeed({"--publish", server_.Url("cases"), "--variables", kVariables,
                                                   "--csv", dir.WriteFile("new.csv", "9001,,a,1\n9002,,b,2\n")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string records = reader.Read(2 * kRecordBytes);  // the stream's cases 700 and 701
    for (int i = 0; i < 2; ++i) EXPECT_EQ(NumberAt(records, kRecordBytes, i), 9001 + i);
  }
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

// Three servers routed to one another on free loopback ports, ready once each is healthy.
class NatsCluster {
 public:
  NatsCluster() {
    // The route ports must be known before any server starts: each lists all three.
    std::vector<int> ports;
    {
      LoopbackPort held[3];
      for (const LoopbackPort& port : held) ports.push_back(port.port);
    }
    std::string routes;
    for (int port : ports) routes += std::string(routes.empty() ? "" : ", ") + "nats://127.0.0.1:" + std::to_string(port);
    for (int i = 0; i < 3; ++i)
      servers_.push_back(std::make_unique<NatsServer>("server_name: s" + std::to_string(i) +
                                                      "\ncluster { name: drav, listen: 127.0.0.1:" +
                                                      std::to_string(ports[i]) + ", routes: [" + routes + "] }"));
    for (auto& server : servers_)
      EXPECT_TRUE(Eventually([&] { return server->Healthy(); }, 60)) << "a server never joined the JetStream cluster";
  }
  // The server named "s0", "s1" or "s2" (as --info names replicas).
  NatsServer& Server(const std::string& name) { return *servers_.at(std::stoul(name.substr(1))); }
  // "nats://127.0.0.1:P1,127.0.0.1:P2,127.0.0.1:P3/STREAM", `first` first (clients try them in order).
  std::string Url(const std::string& stream, const std::string& first = "s0") {
    std::string hosts = Server(first).Address("");
    for (const auto& server : servers_)
      if (server.get() != &Server(first)) hosts += "," + server->Address("");
    return "nats://" + hosts + "/" + stream;
  }

 private:
  std::vector<std::unique_ptr<NatsServer>> servers_;
};

// The ids in `records` are 0, 1, 2, ... : none missing, doubled or out of place.
::testing::AssertionResult CountsUp(const std::string& records) {
  for (std::size_t i = 0; i < records.size() / 8; ++i)
    if (NumberAt(records, 8, i) != static_cast<double>(i))
      return ::testing::AssertionFailure() << "case " << i << " holds " << NumberAt(records, 8, i);
  if (records.size() % 8) return ::testing::AssertionFailure() << "a cut case";
  return ::testing::AssertionSuccess();
}

TEST(JetStreamCluster, ThreeReplicasKeepEveryCaseOnceWhenTheLeaderDiesDuringAPublishAndAReplay) {
  Watchdog watchdog(115, "a JetStream cluster test");
  NatsCluster cluster;
  const std::string url = cluster.Url("ids");
  const int total = 200000, before = 5000;
  const ProcessResult made = RunProcess(Dravfeed(
      {"--publish", url, "--create", "--replicas", "3", "--max-age", "90s", "--variables", "id F8", "--generate", "0"}));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_THAT(Info(url), AllOf(HasSubstr("replicas: 3\ncluster: drav\n"), HasSubstr("max age: 90 s\n")));
  // A producer on the stream's leader, its first cases stored; then the leader dies.
  const std::string leader = InfoField(url, "leader");
  ChildProcess producer(Dravfeed({"--publish", cluster.Url("ids", leader), "--variables", "id F8", "--csv", "-"}),
                        Lines(0, before), true);
  ASSERT_TRUE(Eventually([&] { return InfoField(url, "cases") == std::to_string(before); }, 60));
  cluster.Server(leader).Kill();
  producer.WriteInput(Lines(before, total));
  producer.CloseInput();
  const ProcessResult published = producer.Wait();
  ASSERT_EQ(published.exitCode, 0) << published.err;
  cluster.Server(leader).Restart();
  ASSERT_TRUE(Eventually([&] { return Info(url).find(leader + " (current)") != std::string::npos; }, 60));
  // A replay through the new leader, which dies during the pass: every case it
  // delivers is the right one, and a short pass is said to be broken.
  const std::string second = InfoField(url, "leader");
  ChildProcess feed(
      Dravfeed({"--socket", "0", "--linger", "60", "--from", cluster.Url("ids", second), "--variables", "id F8"}));
  const int port = feed.DravfeedPort();
  std::string records = PassKillingMidway(port, cluster.Server(second));
  EXPECT_TRUE(CountsUp(records));
  if (records.size() < total * 8u) {
    EXPECT_THAT(LineWith(feed, "breaks at case"), HasSubstr("the pass ends"));
  }
  // Once the stream has a leader again, a rewind gets every case.
  ASSERT_TRUE(Eventually([&] { return InfoField(url, "cases") == std::to_string(total); }, 60));
  records = Pass(port, kRewind);
  feed.Signal(SIGTERM);
  const ProcessResult end = feed.Wait();
  EXPECT_EQ(end.exitCode, 128 + SIGTERM);
  EXPECT_EQ(records.size(), total * 8u) << end.err;
  EXPECT_TRUE(CountsUp(records));
}

// Made with Python's cryptography, not ours: a user NKey, and an operator setup (server configuration, credentials).
struct Keys {
  std::string seed, user, operatorConfig, credentials;
};

Keys MakeKeys() {
  const ProcessResult made = RunProcess({"/usr/bin/python3", "-c", R"(
import base64, binascii, json, os, time
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat
def nkey(b): return base64.b32encode(b + binascii.crc_hqx(b, 0).to_bytes(2, 'little')).decode().rstrip('=')
def b64(b): return base64.urlsafe_b64encode(b).decode().rstrip('=')
def key(kind):
    seed = os.urandom(32)
    signer = Ed25519PrivateKey.from_private_bytes(seed)
    public = nkey(bytes([kind]) + signer.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw))
    return signer, public, nkey(bytes([18 << 3 | kind >> 5, (kind & 31) << 3]) + seed)
def jwt(signer, issuer, subject, nats):
    claims = {"jti": subject, "iat": int(time.time()), "iss": issuer, "sub": subject, "nats": dict(nats, version=2)}
    text = b64(b'{"typ":"JWT","alg":"ed25519-nkey"}') + "." + b64(json.dumps(claims).encode())
    return text + "." + b64(signer.sign(text.encode()))
OPERATOR, ACCOUNT, USER = 14 << 3, 0, 20 << 3
unlimited = dict({k: -1 for k in "subs data payload imports exports conn leaf mem_storage disk_storage streams consumer".split()}, wildcards=True)
op, opub, _ = key(OPERATOR); acc, apub, _ = key(ACCOUNT); sys, spub, _ = key(ACCOUNT); usr, upub, useed = key(USER)
print(useed, upub)
print("operator: %s\nsystem_account: %s\nresolver: MEMORY\nresolver_preload: { %s: %s, %s: %s }" % (
    jwt(op, opub, opub, {"type": "operator"}), spub, apub, jwt(op, opub, apub, {"type": "account", "limits": unlimited}),
    spub, jwt(op, opub, spub, {"type": "account", "limits": dict(unlimited, mem_storage=0, disk_storage=0)})))
print("-----BEGIN NATS USER JWT-----\n%s\n------END NATS USER JWT------\n\n-----BEGIN USER NKEY SEED-----\n%s\n"
      "------END USER NKEY SEED------" % (jwt(acc, apub, upub, {"type": "user", "subs": -1, "data": -1, "payload": -1}), useed))
)"});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  Keys keys;
  std::istringstream lines(made.out);
  lines >> keys.seed >> keys.user;
  lines.ignore();
  for (std::string line; std::getline(lines, line);)
    (line.rfind("-----", 0) == 0 || !keys.credentials.empty() ? keys.credentials : keys.operatorConfig) += line + "\n";
  return keys;
}

// An authority, server (127.0.0.1) and client certificates it signed, and an authority that signed none.
void MakeCertificates(const TempDir& dir) {
  const ProcessResult made = RunProcess({"/bin/sh", "-ec", R"(cd "$0"
for ca in ca other; do openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days 1 -subj /CN=$ca; done
for who in server client; do
  openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr -subj /CN=$who
  printf 'subjectAltName=IP:127.0.0.1\n' > san
  openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $who.pem -days 1 -extfile san
done)", dir.Path()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
}

TEST(JetStreamSecurity, EachWayOfSigningInWorksAndEachRefusalNamesItsCause) {
  Watchdog watchdog(110, "a JetStream security test");
  TempDir dir;
  MakeCertificates(dir);
  const Keys keys = MakeKeys();
  const std::string seedFile = dir.WriteFile("user.nk", keys.seed + "\n");
  NatsServer users("authorization { users = [\n"
                   "  {user: alice, password: pw-alice-7}\n"
                   "  {user: bob, password: pw-bob-7, permissions: {publish: {deny: [\"drav.>\"]}}}\n"
                   "  {user: carol, password: pw-carol-7, permissions: {subscribe: {deny: [\"_INBOX.>\"]}}}\n"
                   "  {nkey: " + keys.user + "}\n] }");
  NatsServer token("authorization { token: tok-4711 }");
  NatsServer accounts(keys.operatorConfig);
  NatsServer tls("tls { cert_file: " + dir.File("server.pem") + ", key_file: " + dir.File("server.key") +
                 ", ca_file: " + dir.File("ca.pem") + ", verify: true }");
  const std::vector<std::string> client = {"--nats-ca", dir.File("ca.pem"), "--nats-cert", dir.File("client.pem"),
                                           "--nats-key", dir.File("client.key")};
  const struct {
    NatsServer* server;
    const char* address;  // SCHEME://CREDENTIALS@ before HOST:PORT/cases
    std::vector<std::string> more;
    const char* password;  // in the environment, or null
    int exitCode;
    const char* says;
  } rows[] = {
      {&users, "nats://alice:pw-alice-7@", {}, nullptr, 0, "published 600 cases"},
      {&users, "nats://alice@", {}, "pw-alice-7", 0, "published 600 cases"},
      {&users, "nats://", {"--nats-nkey", seedFile}, nullptr, 0, "published 600 cases"},
      {&token, "nats://tok-4711@", {}, nullptr, 0, "published 600 cases"},
      {&accounts, "nats://", {"--nats-creds", dir.WriteFile("user.creds", keys.credentials)}, nullptr, 0,
       "published 600 cases"},
      {&accounts, "nats://", {}, nullptr, 3, "Authorization Violation"},
      {&tls, "tls://", client, nullptr, 0, "published 600 cases"},
      {&users, "nats://alice:pw-wrong-7@", {}, nullptr, 3, "Authorization Violation"},
      {&token, "nats://tok-wrong-7@", {}, nullptr, 3, "Authorization Violation"},
      {&token, "nats://", {"--nats-nkey", seedFile}, nullptr, 3, "Authorization Violation"},  // tried twice
      {&users, "nats://bob:pw-bob-7@", {}, nullptr, 3, "Permissions Violation for Publish to \"drav.cases\" (the "
       "user needs to publish to $JS.API.> and the stream's subject, and to subscribe to _INBOX.>); the stream "
       "acknowledged none"},
      {&users, "nats://carol:pw-carol-7@", {}, nullptr, 3, "Permissions Violation for Subscription to \"_INBOX."},
      {&tls, "tls://", {"--nats-ca", dir.File("ca.pem")}, nullptr, 3, "give --nats-cert and --nats-key"},
      {&tls, "tls://", {"--nats-ca", dir.File("other.pem"), "--nats-cert", dir.File("client.pem"), "--nats-key",
                         dir.File("client.key")}, nullptr, 3, "unable to get local issuer certificate"},
      {&tls, "tls://", {"--nats-ca", dir.File("client.key"), "--nats-cert", dir.File("client.pem"), "--nats-key",
                         dir.File("client.key")}, nullptr, 3, "Error loading trusted certificates"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> arguments = {"--publish", row.address + row.server->Address("") + "/cases", "--create",
                                          "--variables", "x F8", "--generate", "600"};
    arguments.insert(arguments.end(), row.more.begin(), row.more.end());
    if (row.password) setenv("DRAV_NATS_PASSWORD", row.password, 1);
    const ProcessResult run = RunProcess(Dravfeed(arguments));
    unsetenv("DRAV_NATS_PASSWORD");
    EXPECT_EQ(run.exitCode, row.exitCode) << row.address << " " << row.says << ": " << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.says)) << row.address;
    EXPECT_THAT(run.err, Not(HasSubstr("pw-"))) << row.address;
    EXPECT_THAT(run.err, Not(HasSubstr("tok-"))) << row.address;
  }
  EXPECT_EQ(token.LogLines("authentication error"), 3) << "a refused NKey is tried once more, a wrong token is not";
  // The reading side signs in the same way, and the command line others see hides the password.
  ChildProcess feed(Dravfeed({"--socket", "0", "--from=tls://alice:pw-alice-7@" + tls.Address("") + "/cases",
                              "--variables", "x F8", client[0], client[1], client[2], client[3], client[4], client[5]}));
  WireReader reader(feed.DravfeedPort());
  reader.Begin();
  EXPECT_EQ(reader.ReadToEnd().size(), 600u * 8);
  int seen = 0;
  for (const std::string& process : TempDir::EntriesOf("/proc")) {
    std::ifstream file("/proc/" + process + "/cmdline");
    std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (line.find(tls.Address("") + "/cases") == std::string::npos) continue;
    ++seen;
    EXPECT_THAT(line, HasSubstr("alice:**********@"));
  }
  EXPECT_EQ(seen, 1);
  // A server that stops taking the reader's token closes the connection: no permission is said to be missing.
  ChildProcess tokenFeed(Dravfeed({"--socket", "0", "--from", "nats://tok-4711@" + token.Address("") + "/cases",
                                   "--variables", "x F8"}));
  const int port = tokenFeed.DravfeedPort();
  token.Kill();
  token.Restart("authorization { token: tok-4712 }");
  int refused = 0;  // the client gives up on a server that refused it twice in a row
  ASSERT_TRUE(Eventually([&] { return (refused += token.LogLines("authentication error")) >= 2; }, 20));
  EXPECT_TRUE(Pass(port).empty());
  EXPECT_THAT(LineWith(tokenFeed, "breaks at case 0"), AllOf(HasSubstr("Connection Closed;"), Not(HasSubstr("permission"))));
}

}  // namespace
}  // namespace drav::test
