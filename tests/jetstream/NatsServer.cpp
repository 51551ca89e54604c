#include "tests/jetstream/NatsServer.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "tests/support/Loopback.h"

namespace drav {
namespace test {

std::string LineWith(ChildProcess& child, const std::string& text) {
  std::string line;
  while (child.ReadLine(line, ChildProcess::kErr))
    if (line.find(text) != std::string::npos) return line;
  return "";
}

bool NatsServer::Healthy() const {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(monitor_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  const char request[] = "GET /healthz HTTP/1.0\r\n\r\n";
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == sizeof request - 1) {
    char buffer[4096];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return answer.find("\"ok\"") != std::string::npos;
}

NatsServer::NatsServer(const std::string& config) : config_(config) { Start("-1"); }

std::string NatsServer::Address(const std::string& scheme) const {
  return scheme + "127.0.0.1:" + std::to_string(port_);
}

void NatsServer::Kill() { process_->Signal(SIGKILL), process_->Wait(); }

void NatsServer::Restart() { Start(std::to_string(port_)); }

void NatsServer::Start(const std::string& port) {
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

NatsCluster::NatsCluster() {
  // The route ports must be known before any server starts: each lists all three.
  std::vector<int> ports;
  {
    LoopbackPort held[3];
    for (const LoopbackPort& port : held) ports.push_back(port.port);
  }
  std::string routes;
  for (int port : ports) routes += (routes.empty() ? "" : ", ") + std::string("nats://127.0.0.1:") + std::to_string(port);
  for (int i = 0; i < 3; ++i)
    servers_.push_back(std::make_unique<NatsServer>(
        "server_name: s" + std::to_string(i) + "\ncluster { name: drav, listen: 127.0.0.1:" +
        std::to_string(ports[i]) + ", routes: [" + routes + "] }"));
  for (auto& server : servers_)
    EXPECT_TRUE(Eventually([&] { return server->Healthy(); }, 60)) << "a server never joined the JetStream cluster";
}

std::string NatsCluster::Url(const std::string& stream) const {
  std::string hosts;
  for (const auto& server : servers_) hosts += (hosts.empty() ? "" : ",") + server->Address("");
  return "nats://" + hosts + "/" + stream;
}

NatsServer& NatsCluster::Server(const std::string& name) { return *servers_.at(std::stoul(name.substr(1))); }

std::string Info(const std::string& url) {
  const ProcessResult info = RunProcess(Dravfeed({"--info", url}));
  return info.exitCode == 0 ? info.out : "";
}

std::string InfoField(const std::string& url, const std::string& key) {
  const std::string info = "\n" + Info(url), prefix = "\n" + key + ": ";
  const std::size_t at = info.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t start = at + prefix.size();
  return info.substr(start, info.find('\n', start) - start);
}

bool Eventually(const std::function<bool()>& check, int seconds) {
  for (int tries = 0; tries < seconds * 10; ++tries) {
    if (check()) return true;
    poll(nullptr, 0, 100);
  }
  return false;
}

std::string NatsCluster::UrlFirst(const std::string& first, const std::string& stream) {
  std::string hosts = Server(first).Address("");
  for (const auto& server : servers_)
    if (server.get() != &Server(first)) hosts += "," + server->Address("");
  return "nats://" + hosts + "/" + stream;
}

}  // namespace test
}  // namespace drav
