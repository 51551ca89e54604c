#pragma once
// Real nats-server processes for the JetStream tests: one server on
// 127.0.0.1 at a port it chose, or three in a cluster, each with JetStream,
// its store in a folder of the test's own and any configuration the test adds
// (users, TLS). Readiness is read from the servers' own log lines.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace test {

// The next line of the child's standard error that contains `text`; empty if none comes.
std::string LineWith(ChildProcess& child, const std::string& text);

class NatsServer {
 public:
  // `config` is added to the configuration file (nats-server's own syntax).
  explicit NatsServer(const std::string& config = "");
  std::string Address(const std::string& scheme = "nats://") const;  // "nats://127.0.0.1:PORT"
  std::string Url(const std::string& stream) const { return Address() + "/" + stream; }
  void Kill();
  // Starts again with the same configuration, store and client port.
  void Restart();
  // Its monitoring port says it is healthy: in a cluster, its JetStream is
  // current with the cluster's leader (a server that joins after the
  // election need not log it).
  bool Healthy() const;

 private:
  void Start(const std::string& port);
  TempDir dir_;
  std::string config_;
  int port_ = 0;
  int monitor_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// Three servers routed to one another on free loopback ports, ready once
// each is healthy.
class NatsCluster {
 public:
  NatsCluster();
  // The address of all three: "nats://127.0.0.1:P1,127.0.0.1:P2,127.0.0.1:P3/STREAM".
  std::string Url(const std::string& stream) const;
  // The server named "s0", "s1" or "s2" (as --info names replicas).
  NatsServer& Server(const std::string& name);
  // The address with `first` tried first (clients try them in order).
  std::string UrlFirst(const std::string& first, const std::string& stream);

 private:
  std::vector<std::unique_ptr<NatsServer>> servers_;
};

// `dravfeed --info` of the stream ("" when the stream cannot be asked now),
// and the value after "KEY: " in it.
std::string Info(const std::string& url);
std::string InfoField(const std::string& url, const std::string& key);
// Asks `check` every 100 ms until it holds; false after `seconds`.
bool Eventually(const std::function<bool()>& check, int seconds);

}  // namespace test
}  // namespace drav
