// A JetStream stream as the case log, end to end: real nats-server and dravfeed processes
// on loopback, publishing and serving, and a reader written from the wire protocol.
#include <nats/nats.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "feeder/GeneratedCases.h"
#include "feeder/JetStreamLayout.h"
#include "feeder/RecordBuilder.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace {

using drav::feed::ByteOrder;
using feedtest::FeedProcess;
using ::testing::HasSubstr;

const char kVariables[] = "x F8 when DATE name A8 y F8";
const std::size_t kRecordBytes = drav::feed::VariableList::Parse(kVariables).RecordBytes();
const std::string kRewind(drav::wire::kRewind, drav::wire::kControlWordBytes);

// A nats-server with JetStream on 127.0.0.1, on a port it chose (or the one it
// had before a restart), keeping its streams in a folder of the test's own.
class NatsServer {
 public:
  NatsServer() { Start("-1"); }
  std::string Address() const { return "nats://127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& stream) const { return Address() + "/" + stream; }
  void Kill() { process_->Signal(SIGKILL), process_->Wait(); }
  void Restart() { Start(std::to_string(port_)); }

 private:
  void Start(const std::string& port) {
    // Debian puts the server in /usr/sbin, which a user's PATH may lack.
    const char* program =
        access("/usr/sbin/nats-server", X_OK) ? "nats-server" : "/usr/sbin/nats-server";
    process_ = std::make_unique<FeedProcess>(
        FeedProcess::Program{program},
        std::vector<std::string>{"-js", "-a", "127.0.0.1", "-p", port, "-sd", dir_.Path("store")});
    const std::string line = process_->WaitForLine("Listening for client connections on");
    port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    process_->WaitForLine("Server is ready");
  }
  feedtest::TempDir dir_;
  int port_ = 0;
  std::unique_ptr<FeedProcess> process_;
};

// The records dravfeed --generate makes for cases first .. first + n - 1.
std::string Generated(std::int64_t first, std::int64_t n, ByteOrder order = ByteOrder::kNative) {
  const drav::feed::VariableList list = drav::feed::VariableList::Parse(kVariables);
  drav::feed::RecordBuilder builder(list, order);  // keeps a reference to the list
  std::string records(static_cast<std::size_t>(n) * kRecordBytes, '\0');
  drav::feed::GeneratedCases(builder, first + n).Render(first, n, &records[0]);
  return records;
}

void Publish(const NatsServer& server, std::int64_t count, const std::string& order = "native") {
  std::string out;
  ASSERT_EQ(feedtest::RunFeed({"--publish", server.Url("cases"), "--create", "--variables",
                               kVariables, "--generate", std::to_string(count), "--byte-order",
                               order}, out), 0) << out;
}

std::unique_ptr<FeedProcess> Serve(const NatsServer& server, std::vector<std::string> more = {}) {
  more.insert(more.begin(), {"--socket", "0", "--from", server.Url("cases"), "--variables",
                             kVariables, "--linger", "0.3"});  // a later --linger wins
  return std::make_unique<FeedProcess>(more);
}

// One pass on a new connection: the first gets the probe; a later one sends RWND or SEEK.
std::string Pass(int port, const std::string& control = std::string()) {
  const int fd = feedtest::ConnectLoopback(port);
  if (!control.empty()) feedtest::SendAll(fd, control);
  std::string bytes = feedtest::ReadToEnd(fd);
  close(fd);
  return control.empty() ? bytes.substr(drav::wire::kProbeBytes) : bytes;
}

class ReadBack : public ::testing::TestWithParam<std::pair<const char*, ByteOrder>> {};

TEST_P(ReadBack, TwoPassesAndSeeksGiveTheExactCasesInTheReadersOrder) {
  feedtest::Watchdog watchdog(60);
  NatsServer server;
  const std::int64_t total = 3 * 512 + 100;  // three whole messages and a short one
  Publish(server, total, GetParam().first);
  const bool swapped = GetParam().second == ByteOrder::kSwapped;
  auto feed = Serve(server, {"--byte-order", swapped ? "swapped" : "native"});
  const std::string all = Generated(0, total, GetParam().second);
  EXPECT_TRUE(Pass(feed->Port()) == all);
  EXPECT_TRUE(Pass(feed->Port(), kRewind) == all);
  // The first message, inside the second, its last case, the stream's last.
  for (std::int64_t seek : {std::int64_t{3}, std::int64_t{700}, std::int64_t{1023}, total - 1})
    EXPECT_TRUE(Pass(feed->Port(), feedtest::SeekMessage(seek)) == all.substr(seek * kRecordBytes))
        << "seek " << seek;
  EXPECT_TRUE(Pass(feed->Port(), feedtest::SeekMessage(total)).empty());
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
}

INSTANTIATE_TEST_SUITE_P(PublishedAndServedOrders, ReadBack, ::testing::Values(
    std::make_pair("native", ByteOrder::kNative), std::make_pair("native", ByteOrder::kSwapped),
    std::make_pair("swapped", ByteOrder::kNative)));

TEST(JetStreamRefusal, OtherVariableListIsRefusedOnBothSides) {
  feedtest::Watchdog watchdog(30);
  NatsServer server;
  Publish(server, 10);
  const std::string url = server.Url("cases"), other = "x F8 when DATE name A9 y F8";
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"--from", url, "--socket", "0"},
        {"--publish", url, "--generate", "3"}}) {
    arguments.insert(arguments.end(), {"--variables", other});
    std::string output;
    EXPECT_EQ(feedtest::RunFeed(arguments, output), 1) << arguments[0];
    EXPECT_THAT(output, HasSubstr("\"" + std::string(kVariables) + "\", not \"" + other + "\""));
  }
}

TEST(JetStreamPublish, TwoProducersAtOnceNeitherInterleaveNorLoseCases) {
  feedtest::Watchdog watchdog(60);
  NatsServer server;
  feedtest::TempDir dir;
  const int perProducer = 20000;
  std::vector<std::unique_ptr<FeedProcess>> producers;
  for (int producer = 0; producer < 2; ++producer) {
    const std::string file = dir.Path(std::to_string(producer));
    std::string rows;
    for (int i = 0; i < perProducer; ++i) rows += std::to_string(producer * 1000000 + i) + "\n";
    std::ofstream(file) << rows;
    producers.push_back(std::make_unique<FeedProcess>(std::vector<std::string>{
        "--publish", server.Url("ids"), "--create", "--variables", "id F8", "--csv", file}));
  }
  for (auto& producer : producers) ASSERT_EQ(producer->Wait(), 0) << producer->Stderr();
  FeedProcess feed(
      {"--socket", "0", "--from", server.Url("ids"), "--variables", "id F8", "--linger", "0.3"});
  const std::string records = Pass(feed.Port());
  ASSERT_EQ(records.size(), 2u * perProducer * 8);
  // Each producer's cases all there in its order; the other's only between batches.
  std::map<int, int> next;
  for (std::size_t i = 0; i < records.size() / 8; ++i) {
    const int id = static_cast<int>(feedtest::NumberAt(records, 8, i, 0));
    ASSERT_EQ(id % 1000000, next[id / 1000000]++) << "case " << i;
  }
  EXPECT_EQ(feed.Wait(), 0);
}

TEST(JetStreamBreak, DeletedMessageEndsThePassAtTheLastWholeCaseBeforeIt) {
  feedtest::Watchdog watchdog(60);
  NatsServer server;
  Publish(server, 4 * 512);
  natsConnection* connection = nullptr;  // no producer of ours deletes: the client does
  jsCtx* context = nullptr;
  ASSERT_EQ(natsConnection_ConnectTo(&connection, server.Address().c_str()), NATS_OK);
  ASSERT_EQ(natsConnection_JetStream(&context, connection, nullptr), NATS_OK);
  EXPECT_EQ(js_DeleteMsg(context, "cases", 3, nullptr, nullptr), NATS_OK);
  jsCtx_Destroy(context);
  natsConnection_Destroy(connection);
  auto feed = Serve(server);
  const std::string before = Generated(0, 2 * 512);
  EXPECT_TRUE(Pass(feed->Port()) == before);
  EXPECT_TRUE(Pass(feed->Port(), kRewind) == before);
  // A seek before the gap still works; one past it finds the gap at once.
  EXPECT_TRUE(Pass(feed->Port(), feedtest::SeekMessage(600)) == before.substr(600 * kRecordBytes));
  EXPECT_TRUE(Pass(feed->Port(), feedtest::SeekMessage(1100)).empty());
  EXPECT_EQ(feed->Wait(), 3);
  EXPECT_THAT(feed->Stderr(), HasSubstr("breaks at case 1024: message 3 is missing"));
}

TEST(JetStreamServer, KilledMidPassEndsThePassCleanlyAndALaterPassWorks) {
  feedtest::Watchdog watchdog(90);
  NatsServer server;
  const std::int64_t total = 400000;
  Publish(server, total);
  auto feed = Serve(server, {"--linger", "30"});
  const int fd = feedtest::ConnectLoopback(feed->Port());
  std::string first = feedtest::ReadExactly(fd, drav::wire::kProbeBytes + 4096);
  server.Kill();
  first = (first + feedtest::ReadToEnd(fd)).substr(drav::wire::kProbeBytes);
  close(fd);
  // Whatever came is whole cases, each the right one.
  ASSERT_EQ(first.size() % kRecordBytes, 0u);
  const std::int64_t got = static_cast<std::int64_t>(first.size() / kRecordBytes);
  EXPECT_TRUE(first == Generated(0, got));
  if (got < total) {
    EXPECT_THAT(feed->WaitForLine("breaks at case"), HasSubstr("the pass ends"));
  }
  server.Restart();
  EXPECT_TRUE(Pass(feed->Port(), kRewind) == Generated(0, total));
  feed->Signal(SIGTERM);
  EXPECT_EQ(feed->Wait(), 128 + SIGTERM);
}

TEST(JetStreamFollow, SeesCasesPublishedAfterTheReaderStarted) {
  feedtest::Watchdog watchdog(60);
  NatsServer server;
  Publish(server, 700);
  auto feed = Serve(server, {"--follow"});
  const int fd = feedtest::ConnectLoopback(feed->Port());
  const std::string seen = feedtest::ReadExactly(fd, drav::wire::kProbeBytes + 700 * kRecordBytes);
  EXPECT_TRUE(seen.substr(drav::wire::kProbeBytes) == Generated(0, 700));
  // Another producer's cases 0..299 are the stream's 700..999.
  Publish(server, 300);
  EXPECT_TRUE(feedtest::ReadExactly(fd, 300 * kRecordBytes) == Generated(0, 300));
  close(fd);
  feed->Signal(SIGTERM);
  EXPECT_EQ(feed->Wait(), 128 + SIGTERM);
}

}  // namespace
