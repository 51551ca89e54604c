// The libnats-only baseline of a JetStream replay: drains a stream with the
// consumer dravfeed --from uses (an ordered push consumer from the first
// message, the same client settings) and writes each message's payload, the
// records as they are, to the one reader that connects to its TCP port.
// Nothing else: no header checks, no batching of the output, no case
// numbers, so the figures bound what any reader of the stream could do.
//
//   bench_nats_drain nats://HOST:PORT STREAM
//
// Says "listening on port N" on standard error, starts reading when the
// reader connects and ends when the stream's last message (at that moment)
// is written; then prints "M messages, B bytes". Exits 1 on any failure.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <nats/nats.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what, natsStatus status = NATS_OK) {
  std::fprintf(stderr, "bench_nats_drain: %s%s%s\n", what.c_str(), status == NATS_OK ? "" : ": ",
               status == NATS_OK ? "" : natsStatus_GetText(status));
  std::exit(1);
}

void Check(natsStatus status, const char* what) {
  if (status != NATS_OK) Fail(what, status);
}

natsConnection* Connect(const char* url) {
  natsOptions* options = nullptr;
  Check(natsOptions_Create(&options), "options");
  Check(natsOptions_SetURL(options, url), "server address");
  // As dravfeed's client: large socket reads, requests written at once.
  Check(natsOptions_SetIOBufSize(options, 1 << 20), "buffer size");
  Check(natsOptions_SetSendAsap(options, true), "send at once");
  natsConnection* connection = nullptr;
  Check(natsConnection_Connect(&connection, options), "connect");
  natsOptions_Destroy(options);
  return connection;
}

int AcceptOne() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    Fail(std::string("listen: ") + std::strerror(errno));
  std::fprintf(stderr, "listening on port %d\n", ntohs(address.sin_port));
  std::fflush(stderr);
  const int reader = accept(listener, nullptr, nullptr);
  if (reader < 0) Fail(std::string("accept: ") + std::strerror(errno));
  close(listener);
  return reader;
}

void SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) Fail(std::string("send: ") + std::strerror(errno));
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
}

natsSubscription* Subscribe(jsCtx* js, const char* stream, const char* subject) {
  jsSubOptions subscribe;
  jsSubOptions_Init(&subscribe);
  subscribe.Stream = stream;
  subscribe.Ordered = true;
  subscribe.Config.DeliverPolicy = js_DeliverByStartSequence;
  subscribe.Config.OptStartSeq = 1;
  subscribe.Config.InactiveThreshold = 5'000'000'000;
  natsSubscription* consumer = nullptr;
  Check(js_SubscribeSync(&consumer, js, subject, nullptr, &subscribe, nullptr), "subscribe");
  natsSubscription_SetPendingLimits(consumer, 1 << 16, 1 << 30);
  return consumer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) Fail("usage: bench_nats_drain nats://HOST:PORT STREAM");
  // As dravfeed --from: the client's reader thread allocates each message and
  // this thread frees it; keep the freed memory instead of handing it back.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  natsConnection* connection = Connect(argv[1]);
  jsCtx* js = nullptr;
  Check(natsConnection_JetStream(&js, connection, nullptr), "JetStream context");
  jsStreamInfo* info = nullptr;
  Check(js_GetStreamInfo(&info, js, argv[2], nullptr, nullptr), "stream info");
  if (info->Config->SubjectsLen < 1) Fail("the stream has no subject");
  const std::string subject = info->Config->Subjects[0];
  const std::uint64_t last = info->State.LastSeq;
  jsStreamInfo_Destroy(info);

  const int reader = AcceptOne();
  std::uint64_t messages = 0, bytes = 0, sequence = 0;
  natsSubscription* consumer = last > 0 ? Subscribe(js, argv[2], subject.c_str()) : nullptr;
  while (sequence < last) {
    natsMsg* message = nullptr;
    Check(natsSubscription_NextMsg(&message, consumer, 10000), "next message");
    jsMsgMetaData* meta = nullptr;
    Check(natsMsg_GetMetaData(&meta, message), "message metadata");
    sequence = meta->Sequence.Stream;
    jsMsgMetaData_Destroy(meta);
    SendAll(reader, natsMsg_GetData(message), static_cast<std::size_t>(natsMsg_GetDataLength(message)));
    bytes += static_cast<std::uint64_t>(natsMsg_GetDataLength(message));
    ++messages;
    natsMsg_Destroy(message);
  }
  shutdown(reader, SHUT_WR);
  close(reader);
  if (consumer) {
    natsSubscription_Unsubscribe(consumer);
    natsSubscription_Destroy(consumer);
  }
  jsCtx_Destroy(js);
  natsConnection_Destroy(connection);
  std::fprintf(stderr, "%llu messages, %llu bytes\n", static_cast<unsigned long long>(messages),
               static_cast<unsigned long long>(bytes));
  return 0;
}
