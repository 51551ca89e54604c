// A stream of three replicas on three real nats-servers that lose one server at a
// time: while a producer publishes, and while a reader replays.
#include <signal.h>

#include <cstring>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/WireFormat.h"
#include "tests/jetstream/NatsServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

using ::testing::HasSubstr;

std::string Lines(int first, int end) {
  std::string text;
  for (int i = first; i < end; ++i) text += std::to_string(i) + "\n";
  return text;
}

// The ids in `records` are 0, 1, 2, ... : none missing, doubled or out of place.
::testing::AssertionResult CountsUp(const std::string& records) {
  for (std::size_t i = 0; i < records.size() / 8; ++i) {
    double id = 0;
    std::memcpy(&id, &records[i * 8], sizeof id);
    if (id != static_cast<double>(i)) return ::testing::AssertionFailure() << "case " << i << " holds " << id;
  }
  if (records.size() % 8) return ::testing::AssertionFailure() << "a cut case";
  return ::testing::AssertionSuccess();
}

TEST(JetStreamCluster, ThreeReplicasKeepEveryCaseOnceWhenTheLeaderDiesDuringAPublishAndAReplay) {
  Watchdog watchdog(115, "a JetStream cluster test");
  NatsCluster cluster;
  const std::string url = cluster.Url("ids");
  const int total = 200000, before = 5000;
  const ProcessResult made = RunProcess(
      Dravfeed({"--publish", url, "--create", "--replicas", "3", "--variables", "id F8", "--generate", "0"}));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_THAT(Info(url), HasSubstr("replicas: 3\n"));
  // A producer on the stream's leader, its first cases stored; then the leader dies.
  const std::string leader = InfoField(url, "leader");
  ChildProcess producer(Dravfeed({"--publish", cluster.UrlFirst(leader, "ids"), "--variables", "id F8", "--csv", "-"}),
                        Lines(0, before), true);
  ASSERT_TRUE(Eventually([&] { return InfoField(url, "cases") == std::to_string(before); }, 60));
  cluster.Server(leader).Kill();
  producer.WriteInput(Lines(before, total));
  producer.CloseInput();
  const ProcessResult published = producer.Wait();
  ASSERT_EQ(published.exitCode, 0) << published.err;
  // It comes back and catches up.
  cluster.Server(leader).Restart();
  ASSERT_TRUE(Eventually([&] { return Info(url).find(leader + " (current)") != std::string::npos; }, 60));
  // A replay through the new leader, which dies during the pass: every case it
  // delivers is the right one, and a short pass is said to be broken.
  const std::string second = InfoField(url, "leader");
  ChildProcess feed(Dravfeed({"--socket", "0", "--linger", "60", "--from", cluster.UrlFirst(second, "ids"),
                              "--variables", "id F8"}));
  const int port = feed.DravfeedPort();
  std::string records;
  {
    WireReader reader(port);
    reader.Begin();
    records = reader.Read(4096);
    cluster.Server(second).Kill();
    records += reader.ReadToEnd();
  }
  EXPECT_TRUE(CountsUp(records));
  if (records.size() < total * 8u) {
    EXPECT_THAT(LineWith(feed, "breaks at case"), HasSubstr("the pass ends"));
  }
  // Once the stream has a leader again, a rewind gets every case.
  ASSERT_TRUE(Eventually([&] { return InfoField(url, "cases") == std::to_string(total); }, 60));
  {
    WireReader reader(port);
    reader.Connect();
    reader.Send(std::string(wire::kRewind, wire::kControlWordBytes));
    records = reader.ReadToEnd();
  }
  feed.Signal(SIGTERM);
  const ProcessResult end = feed.Wait();
  EXPECT_EQ(end.exitCode, 128 + SIGTERM);
  EXPECT_EQ(records.size(), total * 8u) << end.err;
  EXPECT_TRUE(CountsUp(records));
}

}  // namespace
}  // namespace test
}  // namespace drav
