// A JetStream stream as the case log, end to end: real nats-server and dravfeed processes
// on loopback, publishing and serving, and a reader written from the wire protocol.
#include <nats/nats.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dravfeed/JetStreamCases.h"
#include "feeder/jetstream/JetStreamLayout.h"
#include "dravfeed/VariableList.h"
#include "base/WireFormat.h"
#include "tests/jetstream/NatsServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

using feed::ByteOrder;
using ::testing::HasSubstr;

const char kVariables[] = "x F8 when DATE name A8 y F8";
const std::size_t kRecordBytes = feed::VariableList::Parse(kVariables).RecordBytes();
const std::string kRewind(wire::kRewind, wire::kControlWordBytes);

std::string Generated(std::int64_t first, std::int64_t n, ByteOrder order = ByteOrder::kNative) {
  return GeneratedRecords(kVariables, first, n, order);
}

void Publish(const NatsServer& server, std::int64_t count, const std::string& order = "native",
             std::vector<std::string> more = {}) {
  more.insert(more.begin(), {"--publish", server.Url("cases"), "--create", "--variables", kVariables, "--generate",
                             std::to_string(count), "--byte-order", order});
  const ProcessResult run = RunProcess(Dravfeed(more));
  ASSERT_EQ(run.exitCode, 0) << run.err;
}

// A dravfeed serving the stream over TCP, and the port it listens on.
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

class ReadBack : public ::testing::TestWithParam<std::pair<const char*, ByteOrder>> {};

TEST_P(ReadBack, TwoPassesAndSeeksGiveTheExactCasesInTheReadersOrder) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  const std::int64_t total = 3 * 512 + 100;  // three whole messages and a short one
  Publish(server, total, GetParam().first);
  const bool swapped = GetParam().second == ByteOrder::kSwapped;
  auto feed = Serve(server, {"--byte-order", swapped ? "swapped" : "native"});
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

TEST(JetStreamRefusal, OtherVariableListIsRefusedOnBothSides) {
  Watchdog watchdog(30, "a JetStream test");
  NatsServer server;
  Publish(server, 10);
  const std::string url = server.Url("cases"), other = "x F8 when DATE name A9 y F8";
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

TEST(JetStreamPublish, TwoProducersAtOnceNeitherInterleaveNorLoseCases) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  TempDir dir;
  const int perProducer = 20000;
  std::vector<std::unique_ptr<ChildProcess>> producers;
  for (int producer = 0; producer < 2; ++producer) {
    std::string rows;
    for (int i = 0; i < perProducer; ++i) rows += std::to_string(producer * 1000000 + i) + "\n";
    const std::string file = dir.WriteFile(std::to_string(producer), rows);
    producers.push_back(std::make_unique<ChildProcess>(
        Dravfeed({"--publish", server.Url("ids"), "--create", "--variables", "id F8", "--csv", file})));
  }
  for (auto& producer : producers) {
    const ProcessResult run = producer->Wait();
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  ChildProcess feed(Dravfeed({"--socket", "0", "--from", server.Url("ids"), "--variables", "id F8"}));
  const std::string records = Pass(feed.DravfeedPort());
  ASSERT_EQ(records.size(), 2u * perProducer * 8);
  // Each producer's cases all there in its order; the other's only between batches.
  std::map<int, int> next;
  for (std::size_t i = 0; i < records.size() / 8; ++i) {
    double id = 0;
    std::memcpy(&id, &records[i * 8], sizeof id);
    const int whole = static_cast<int>(id);
    ASSERT_EQ(whole % 1000000, next[whole / 1000000]++) << "case " << i;
  }
  EXPECT_EQ(feed.Wait().exitCode, 0);
}

TEST(JetStreamBreak, DeletedMessageEndsThePassAtTheLastWholeCaseBeforeIt) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  Publish(server, 4 * 512);
  natsConnection* connection = nullptr;  // no producer of ours deletes: the client does
  jsCtx* context = nullptr;
  ASSERT_EQ(natsConnection_ConnectTo(&connection, server.Address().c_str()), NATS_OK);
  ASSERT_EQ(natsConnection_JetStream(&context, connection, nullptr), NATS_OK);
  EXPECT_EQ(js_DeleteMsg(context, "cases", 3, nullptr, nullptr), NATS_OK);
  auto feed = Serve(server);
  const std::string before = Generated(0, 2 * 512);
  EXPECT_TRUE(Pass(feed.port) == before);
  EXPECT_TRUE(Pass(feed.port, kRewind) == before);
  // A seek before the gap still works; one past it finds the gap at once.
  EXPECT_TRUE(Pass(feed.port, SeekMessage(600)) == before.substr(600 * kRecordBytes));
  EXPECT_TRUE(Pass(feed.port, SeekMessage(1100)).empty());
  const ProcessResult end = feed.process->Wait();
  EXPECT_EQ(end.exitCode, 3);
  EXPECT_THAT(end.err, HasSubstr("breaks at case 1024: message 3 is missing"));
  // A program that renders the cases itself gets zeros for those the break
  // left unread, never what its buffer held before.
  const feed::VariableList list = feed::VariableList::Parse(kVariables);
  std::string problem;
  feed::JetStreamReadOptions read;
  read.onProblem = [&](const std::string& text) { problem = text; };
  feed::JetStreamCases cases(server.Url("cases"), list, ByteOrder::kNative, read);
  std::string rendered(4 * 512 * kRecordBytes, 'x');
  cases.Render(0, 4 * 512, &rendered[0]);
  EXPECT_TRUE(rendered == before + std::string(2 * 512 * kRecordBytes, '\0'));
  // A stream that lost cases it had counted serves none of it, and says why.
  EXPECT_EQ(js_PurgeStream(context, "cases", nullptr, nullptr), NATS_OK);
  cases.PassStarts();
  EXPECT_EQ(cases.CaseCount(), 0);
  EXPECT_THAT(problem, HasSubstr("where it held 2048: cases it acknowledged are gone"));
  jsCtx_Destroy(context);
  natsConnection_Destroy(connection);
}

TEST(JetStreamServer, KilledMidPassEndsThePassCleanlyAndALaterPassWorks) {
  Watchdog watchdog(90, "a JetStream test");
  NatsServer server;
  const std::int64_t total = 400000;
  Publish(server, total);
  auto feed = Serve(server, {"--linger", "30"});
  std::string first;
  bool reset = false;
  {
    WireReader reader(feed.port);
    reader.Begin();
    first = reader.Read(4096);
    server.Kill();
    first += reader.ReadToEnd();
    reset = reader.EndedByReset();
  }
  // Whatever came is whole cases, each the right one.
  ASSERT_EQ(first.size() % kRecordBytes, 0u);
  const std::int64_t got = static_cast<std::int64_t>(first.size() / kRecordBytes);
  EXPECT_TRUE(first == Generated(0, got));
  if (got < total) {
    EXPECT_TRUE(reset) << "a pass the server's death broke off ended as if finished";
    EXPECT_THAT(LineWith(*feed.process, "breaks at case"),
                HasSubstr("the server " + server.Address() + " sent nothing for 2000 ms"));
  }
  server.Restart();
  EXPECT_TRUE(Pass(feed.port, kRewind) == Generated(0, total));
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

TEST(JetStreamFollow, SeesCasesPublishedAfterTheReaderStarted) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  Publish(server, 700);
  auto feed = Serve(server, {"--follow"});
  {
    WireReader reader(feed.port);
    reader.Begin();
    EXPECT_TRUE(reader.Read(700 * kRecordBytes) == Generated(0, 700));
    // Another producer's cases 0..299 are the stream's 700..999.
    Publish(server, 300);
    EXPECT_TRUE(reader.Read(300 * kRecordBytes) == Generated(0, 300));
  }
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

TEST(JetStreamBreak, AStreamItsLimitsTrimmedAtTheFrontIsServedFromItsFirstCaseOnly) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  Publish(server, 4 * 512, "native", {"--max-bytes", "40K"});  // room for two messages of 16 KiB
  EXPECT_THAT(Info(server.Url("cases")), HasSubstr("first case: 1024\nlast case: 2047\n"));
  auto feed = Serve(server);
  EXPECT_TRUE(Pass(feed.port).empty());
  const ProcessResult end = feed.process->Wait();
  EXPECT_EQ(end.exitCode, 3);
  EXPECT_THAT(end.err, HasSubstr("holds no case before 1024: the stream's limits"));
  auto later = Serve(server, {"--start", "1024"});
  EXPECT_TRUE(Pass(later.port) == Generated(1024, 1024));
  EXPECT_EQ(later.process->Wait().exitCode, 0);
}

TEST(JetStreamFollow, StartingAtTheEndOrBeforeItCountsCasesFromThere) {
  Watchdog watchdog(60, "a JetStream test");
  NatsServer server;
  Publish(server, 700, "native", {"--max-age", "1h", "--max-bytes", "10M", "--storage", "memory"});
  for (const char* line : {"storage: memory\n", "max age: 3600 s\n", "max bytes: 10485760\n", "cases: 700\n",
                           "first case: 0\nlast case: 699\n", "variables: x F8 when DATE name A8 y F8\n"})
    EXPECT_THAT(Info(server.Url("cases")), HasSubstr(line));
  {
    auto feed = Serve(server, {"--start", "-100"});
    EXPECT_TRUE(Pass(feed.port) == Generated(600, 100));
    EXPECT_TRUE(Pass(feed.port, SeekMessage(10)) == Generated(610, 90));
    EXPECT_EQ(feed.process->Wait().exitCode, 0);
  }
  auto feed = Serve(server, {"--follow", "--start", "end"});
  {
    WireReader reader(feed.port);
    reader.Begin();
    TempDir dir;
    const ProcessResult run = RunProcess(Dravfeed({"--publish", server.Url("cases"), "--variables", kVariables,
                                                   "--csv", dir.WriteFile("new.csv", "9001,,a,1\n9002,,b,2\n")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string records = reader.Read(2 * kRecordBytes);  // the stream's cases 700 and 701
    for (int i = 0; i < 2; ++i) {
      double x = 0;
      std::memcpy(&x, &records[i * kRecordBytes], sizeof x);
      EXPECT_EQ(x, 9001 + i);
    }
  }
  feed.process->Signal(SIGTERM);
  EXPECT_EQ(feed.process->Wait().exitCode, 128 + SIGTERM);
}

}  // namespace
}  // namespace test
}  // namespace drav
