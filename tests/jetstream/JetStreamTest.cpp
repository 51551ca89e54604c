// A JetStream stream as the case log, end to end: real nats-server
// processes on loopback with a store of their own, real dravfeed processes
// publishing and serving, and a reader written from the wire protocol.
#include <nats/nats.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "feeder/GeneratedCases.h"
#include "feeder/JetStreamLayout.h"
#include "feeder/RecordBuilder.h"
#include "feeder/VariableList.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace {

using feedtest::FeedProcess;
using feedtest::TempDir;
using feedtest::Watchdog;

const char kVariables[] = "x F8 when DATE name A8 y F8";

// Debian puts the server in /usr/sbin, which a user's PATH may lack.
std::string NatsServerProgram() {
  const char installed[] = "/usr/sbin/nats-server";
  return access(installed, X_OK) == 0 ? installed : "nats-server";
}

// A nats-server with JetStream on 127.0.0.1, on a port it chose itself (or
// the one it had before a restart), keeping its streams under `store`.
class NatsServer {
 public:
  explicit NatsServer(const std::string& store) : store_(store) { Start("-1"); }

  std::string Url(const std::string& stream) const {
    return "nats://127.0.0.1:" + std::to_string(port_) + "/" + stream;
  }
  void Kill() {
    process_->Signal(SIGKILL);
    process_->Wait();
  }
  void Restart() { Start(std::to_string(port_)); }

 private:
  void Start(const std::string& port) {
    process_ = std::make_unique<FeedProcess>(
        FeedProcess::Program{NatsServerProgram()}, std::vector<std::string>{"-js", "-a", "127.0.0.1", "-p", port, "-sd", store_});
    std::string line = process_->WaitForLine("Listening for client connections on");
    port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    process_->WaitForLine("Server is ready");
  }

  std::string store_;
  int port_ = 0;
  std::unique_ptr<FeedProcess> process_;
};

// The NATS client, for what no producer of ours would do: delete a message,
// append one with wrong case numbers.
class Meddler {
 public:
  explicit Meddler(const NatsServer& server) {
    std::string url = server.Url("");
    url.pop_back();
    EXPECT_EQ(natsConnection_ConnectTo(&connection_, url.c_str()), NATS_OK);
    EXPECT_EQ(natsConnection_JetStream(&context_, connection_, nullptr), NATS_OK);
  }
  ~Meddler() {
    jsCtx_Destroy(context_);
    natsConnection_Destroy(connection_);
  }
  void Delete(const std::string& stream, std::uint64_t sequence) {
    ASSERT_EQ(js_DeleteMsg(context_, stream.c_str(), sequence, nullptr, nullptr), NATS_OK);
  }
  // A message of `count` records of `recordBytes` that claims to start at `first`.
  void AppendForged(const std::string& stream, std::int64_t first, std::int64_t count,
                    std::size_t recordBytes, const char* variables) {
    using namespace drav::feed::jetstream;
    std::string records(static_cast<std::size_t>(count) * recordBytes, '\0');
    natsMsg* message = nullptr;
    std::string subject = std::string(kSubjectPrefix) + stream;
    ASSERT_EQ(natsMsg_Create(&message, subject.c_str(), nullptr, records.data(),
                             static_cast<int>(records.size())),
              NATS_OK);
    natsMsgHeader_Set(message, kFirstCaseHeader, std::to_string(first).c_str());
    natsMsgHeader_Set(message, kCaseCountHeader, std::to_string(count).c_str());
    natsMsgHeader_Set(message, kByteOrderHeader, ByteOrderName(drav::feed::ByteOrder::kNative));
    natsMsgHeader_Set(message, kVariablesHeader, variables);
    EXPECT_EQ(js_PublishMsg(nullptr, context_, message, nullptr, nullptr), NATS_OK);
    natsMsg_Destroy(message);
  }

 private:
  natsConnection* connection_ = nullptr;
  jsCtx* context_ = nullptr;
};

// The records dravfeed --generate makes for cases first .. first + count - 1,
// as a feeder of `order` sends them.
std::string Generated(std::int64_t first, std::int64_t count, drav::feed::ByteOrder order,
                      const char* variables = kVariables) {
  drav::feed::VariableList list = drav::feed::VariableList::Parse(variables);
  drav::feed::RecordBuilder builder(list, order);
  drav::feed::GeneratedCases cases(builder, first + count);
  std::string records(static_cast<std::size_t>(count) * list.RecordBytes(), '\0');
  cases.Render(first, count, &records[0]);
  return records;
}

std::size_t RecordBytes(const char* variables = kVariables) {
  return drav::feed::VariableList::Parse(variables).RecordBytes();
}

int Publish(const NatsServer& server, const std::string& stream,
            std::vector<std::string> arguments, std::string& output) {
  std::vector<std::string> all = {"--publish", server.Url(stream), "--create"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return feedtest::RunFeed(all, output);
}

void PublishGenerated(const NatsServer& server, const std::string& stream, std::int64_t count,
                      const std::string& order = "native") {
  std::string output;
  ASSERT_EQ(Publish(server, stream,
                    {"--variables", kVariables, "--generate", std::to_string(count),
                     "--byte-order", order},
                    output),
            0)
      << output;
}

// dravfeed --from over a socket.
std::unique_ptr<FeedProcess> Serve(const NatsServer& server, const std::string& stream,
                                   std::vector<std::string> more = {}) {
  std::vector<std::string> arguments = {"--socket", "0", "--from", server.Url(stream),
                                        "--variables", kVariables, "--linger", "0.3"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return std::make_unique<FeedProcess>(arguments);
}

// One pass over a new connection: the first one gets the probe first; a
// later one starts with `control` ("RWND" or a "SEEK").
std::string Pass(int port, const std::string& control = std::string()) {
  int fd = feedtest::ConnectLoopback(port);
  if (!control.empty()) feedtest::SendAll(fd, control);
  std::string bytes = feedtest::ReadToEnd(fd);
  close(fd);
  if (control.empty()) bytes.erase(0, drav::wire::kProbeBytes);
  return bytes;
}

const std::string kRewind(drav::wire::kRewind, drav::wire::kControlWordBytes);

// ---- Reading back what was published ---------------------------------------

struct OrderCase {
  const char* published;
  const char* served;
};

class ReadBack : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ReadBack, TwoPassesAndASeekGiveTheExactCases) {
  Watchdog watchdog(60);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  // Three whole messages and a short one.
  const std::int64_t total = 3 * 512 + 100;
  PublishGenerated(server, "cases", total, GetParam().published);
  const auto order = std::string(GetParam().served) == "native" ? drav::feed::ByteOrder::kNative
                                                                : drav::feed::ByteOrder::kSwapped;
  auto feed = Serve(server, "cases", {"--byte-order", GetParam().served});
  const int port = feed->Port();
  const std::string all = Generated(0, total, order);
  EXPECT_TRUE(Pass(port) == all);
  EXPECT_TRUE(Pass(port, kRewind) == all);
  // Inside the second message, and its last case.
  for (std::int64_t seek : {std::int64_t{700}, std::int64_t{1023}, total - 1}) {
    EXPECT_TRUE(Pass(port, feedtest::SeekMessage(seek)) == all.substr(seek * RecordBytes()))
        << "seek " << seek;
  }
  EXPECT_TRUE(Pass(port, feedtest::SeekMessage(total)).empty());
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ReadBack,
                         ::testing::Values(OrderCase{"native", "native"},
                                           OrderCase{"native", "swapped"},
                                           OrderCase{"swapped", "native"}));

TEST(JetStreamRead, DifferingVariableListIsRefused) {
  Watchdog watchdog(30);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  PublishGenerated(server, "cases", 10);
  std::string output;
  EXPECT_EQ(feedtest::RunFeed({"--socket", "0", "--from", server.Url("cases"), "--variables",
                               "x F8 when DATE name A9 y F8"},
                              output),
            1);
  EXPECT_NE(output.find("\"x F8 when DATE name A8 y F8\", not \"x F8 when DATE name A9 y F8\""),
            std::string::npos)
      << output;
  EXPECT_EQ(Publish(server, "cases", {"--variables", "x F8", "--generate", "5"}, output), 1);
  EXPECT_NE(output.find("holds the variables"), std::string::npos) << output;
}

TEST(JetStreamRead, BadAddressOrUnreachableServerIsRefused) {
  Watchdog watchdog(30);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  const std::string gone = server.Url("cases");
  server.Kill();
  struct Refusal {
    std::string url;
    int status;
    const char* message;
  };
  const Refusal refusals[] = {
      {"http://127.0.0.1:1/cases", 1, "is no stream address: write nats://HOST:PORT/STREAM"},
      {"nats://127.0.0.1:1/", 1, "is no stream address"},
      {"nats://127.0.0.1:1/a.b", 1, "the stream name \"a.b\" must be one word"},
      {gone, 3, "cannot reach the NATS server"},
  };
  for (const Refusal& refusal : refusals) {
    for (const char* side : {"--from", "--publish"}) {
      std::vector<std::string> arguments = {side, refusal.url, "--variables", "x F8"};
      if (std::string(side) == "--from") {
        arguments.insert(arguments.end(), {"--socket", "0"});
      } else {
        arguments.insert(arguments.end(), {"--generate", "3"});
      }
      std::string output;
      EXPECT_EQ(feedtest::RunFeed(arguments, output), refusal.status) << side << " " << refusal.url;
      EXPECT_NE(output.find(refusal.message), std::string::npos) << output;
    }
  }
}

// ---- Producers --------------------------------------------------------------

TEST(JetStreamPublish, TwoProducersAtOnceNeitherInterleaveNorLoseCases) {
  Watchdog watchdog(60);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  const int perProducer = 20000;
  std::vector<std::string> files;
  for (int producer = 0; producer < 2; ++producer) {
    files.push_back(dir.Path("p" + std::to_string(producer) + ".csv"));
    std::ofstream csv(files.back());
    for (int i = 0; i < perProducer; ++i) csv << producer * 1000000 + i << "\n";
  }
  std::vector<std::unique_ptr<FeedProcess>> producers;
  for (const std::string& file : files)
    producers.push_back(std::make_unique<FeedProcess>(std::vector<std::string>{
        "--publish", server.Url("ids"), "--create", "--variables", "id F8", "--csv", file}));
  for (auto& producer : producers) ASSERT_EQ(producer->Wait(), 0) << producer->Stderr();

  std::vector<std::string> arguments = {"--socket", "0", "--from", server.Url("ids"),
                                        "--variables", "id F8", "--linger", "0.3"};
  FeedProcess feed(arguments);
  const std::string records = Pass(feed.Port());
  ASSERT_EQ(records.size(), 2u * perProducer * 8);
  // Each producer's cases all there, in its own order; a case of the
  // other one may only come between two of its batches.
  std::map<int, int> next;
  for (std::size_t i = 0; i < records.size() / 8; ++i) {
    int id = static_cast<int>(feedtest::NumberAt(records, 8, i, 0));
    int producer = id / 1000000;
    ASSERT_EQ(id % 1000000, next[producer]) << "case " << i;
    ++next[producer];
  }
  EXPECT_EQ(feed.Wait(), 0);
}

// ---- Breaks in the stream ---------------------------------------------------

struct BreakCase {
  const char* name;
  std::int64_t published;  // cases dravfeed --publish puts in first
  const char* problem;     // what dravfeed says
  void (*make)(Meddler&);
};

class Break : public ::testing::TestWithParam<BreakCase> {};

TEST_P(Break, EndsThePassAtTheLastWholeCaseBeforeIt) {
  Watchdog watchdog(60);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  PublishGenerated(server, "cases", GetParam().published);
  {
    Meddler meddler(server);
    GetParam().make(meddler);
  }
  auto feed = Serve(server, "cases");
  const int port = feed->Port();
  const std::string before = Generated(0, 2 * 512, drav::feed::ByteOrder::kNative);
  EXPECT_TRUE(Pass(port) == before);
  EXPECT_TRUE(Pass(port, kRewind) == before);
  // A seek into the cases before the break still works; one past it finds
  // the break at once.
  EXPECT_TRUE(Pass(port, feedtest::SeekMessage(600)) == before.substr(600 * RecordBytes()));
  EXPECT_TRUE(Pass(port, feedtest::SeekMessage(1100)).empty());
  EXPECT_EQ(feed->Wait(), 3);
  EXPECT_NE(feed->Stderr().find("breaks at case 1024: " + std::string(GetParam().problem)),
            std::string::npos)
      << feed->Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Break,
    ::testing::Values(
        BreakCase{"DeletedMessage", 4 * 512, "message 3 is missing",
                  [](Meddler& m) { m.Delete("cases", 3); }},
        // A foreign producer that numbered its message as if one were
        // missing before it.
        BreakCase{"CaseNumbersDoNotFollow", 2 * 512,
                  "message 3 starts at case 1536, where case 1024 belongs",
                  [](Meddler& m) { m.AppendForged("cases", 1536, 10, RecordBytes(), kVariables); }}),
    [](const ::testing::TestParamInfo<BreakCase>& info) { return std::string(info.param.name); });

TEST(JetStreamServer, KilledMidPassEndsThePassCleanlyAndALaterPassWorks) {
  Watchdog watchdog(90);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  const std::int64_t total = 400000;
  PublishGenerated(server, "cases", total);
  auto feed = Serve(server, "cases", {"--linger", "30"});
  const int port = feed->Port();
  const std::size_t recordBytes = RecordBytes();

  int fd = feedtest::ConnectLoopback(port);
  std::string first = feedtest::ReadExactly(fd, drav::wire::kProbeBytes + 4096);
  server.Kill();
  first += feedtest::ReadToEnd(fd);
  close(fd);
  first.erase(0, drav::wire::kProbeBytes);
  // Whatever came is whole cases, each the right one.
  ASSERT_EQ(first.size() % recordBytes, 0u);
  const std::int64_t got = static_cast<std::int64_t>(first.size() / recordBytes);
  std::printf("cases before the break: %lld of %lld\n", static_cast<long long>(got), static_cast<long long>(total));
  EXPECT_TRUE(first == Generated(0, got, drav::feed::ByteOrder::kNative));
  if (got < total) {
    EXPECT_NE(feed->WaitForLine("breaks at case").find("the pass ends"), std::string::npos);
  }

  server.Restart();
  EXPECT_TRUE(Pass(port, kRewind) == Generated(0, total, drav::feed::ByteOrder::kNative));
  feed->Signal(SIGTERM);
  feed->Wait();
}

// ---- Following --------------------------------------------------------------

TEST(JetStreamFollow, SeesCasesPublishedAfterTheReaderStarted) {
  Watchdog watchdog(60);
  TempDir dir;
  NatsServer server(dir.Path("store"));
  PublishGenerated(server, "cases", 700);
  auto feed = Serve(server, "cases", {"--follow"});
  int fd = feedtest::ConnectLoopback(feed->Port());
  const std::size_t recordBytes = RecordBytes();
  std::string seen = feedtest::ReadExactly(fd, drav::wire::kProbeBytes + 700 * recordBytes);
  seen.erase(0, drav::wire::kProbeBytes);
  EXPECT_TRUE(seen == Generated(0, 700, drav::feed::ByteOrder::kNative));
  // A second producer's cases are its own cases 0..299, numbered 700.. in
  // the stream.
  PublishGenerated(server, "cases", 300);
  EXPECT_TRUE(feedtest::ReadExactly(fd, 300 * recordBytes) ==
              Generated(0, 300, drav::feed::ByteOrder::kNative));
  close(fd);
  feed->Signal(SIGTERM);
  EXPECT_EQ(feed->Wait(), 128 + SIGTERM);
}

}  // namespace
