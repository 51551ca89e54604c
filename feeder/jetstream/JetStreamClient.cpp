#include "feeder/jetstream/JetStreamClient.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "dravfeed/FeederError.h"

namespace drav {
namespace feed {
namespace jetstream {

std::string Problem(const std::string& what, natsStatus status, jsErrCode code) {
  std::string text = what + ": " + natsStatus_GetText(status);
  if (code != 0) text += " (JetStream error " + std::to_string(static_cast<int>(code)) + ")";
  return text;
}

bool HeaderNumber(natsMsg* message, const char* key, std::int64_t& value) {
  // Read for every message of a replay: no allocation, no locale.
  const char* text = HeaderText(message, key);
  const char* end = text + std::strlen(text);
  std::int64_t parsed = 0;
  const std::from_chars_result result = std::from_chars(text, end, parsed);
  if (text == end || result.ec != std::errc() || result.ptr != end || parsed < 0) return false;
  value = parsed;
  return true;
}

const char* HeaderText(natsMsg* message, const char* key) {
  const char* text = nullptr;
  if (natsMsgHeader_Get(message, key, &text) != NATS_OK || !text) return "";
  return text;
}

namespace {

// The client's own account of why a connection failed (its thread's last
// error), which names the cause the status alone does not: "Authorization
// Violation", "certificate verify failed".
std::string ConnectProblem(const std::string& servers, natsStatus status, bool tls) {
  natsStatus last = NATS_OK;
  const char* detail = nats_GetLastError(&last);
  // Without the client's source position: "(conn.c:1905): Authorization Violation".
  if (detail && *detail == '(' && std::strstr(detail, "): ")) detail = std::strstr(detail, "): ") + 3;
  std::string text = "cannot connect to the NATS server " + servers + ": " + natsStatus_GetText(status);
  if (detail && *detail && std::string(detail) != natsStatus_GetText(status)) text += " (" + std::string(detail) + ")";
  if (status == NATS_CONNECTION_AUTH_FAILED)
    text += "; the server refused our credentials (user and password, token, NKey or credentials file)";
  else if (tls || status == NATS_SSL_ERROR)
    text += "; over TLS: check that --nats-ca holds the authority that signed the server's certificate, "
            "and give --nats-cert and --nats-key when the server verifies its clients";
  return text;
}

bool Secured(const StreamAddress& address, const NatsSecurity& security) {
  return address.tls || !security.caFile.empty() || !security.certFile.empty();
}

natsStatus Secure(natsOptions* options, const StreamAddress& address, const NatsSecurity& security) {
  natsStatus status = NATS_OK;
  if (Secured(address, security)) status = natsOptions_SetSecure(options, true);
  if (status == NATS_OK && !security.caFile.empty())
    status = natsOptions_LoadCATrustedCertificates(options, security.caFile.c_str());
  if (status == NATS_OK && !security.certFile.empty())
    status = natsOptions_LoadCertificatesChain(options, security.certFile.c_str(), security.keyFile.c_str());
  // "NAME@" is a token, or a user when a password comes from elsewhere.
  const bool nameIsUser = !address.token.empty() && !security.password.empty();
  const std::string& user = nameIsUser ? address.token : address.user;
  const std::string& password = address.password.empty() ? security.password : address.password;
  if (status == NATS_OK && !user.empty())
    status = natsOptions_SetUserInfo(options, user.c_str(), password.c_str());
  const std::string& token = address.token.empty() ? security.token : address.token;
  if (status == NATS_OK && user.empty() && !token.empty())
    status = natsOptions_SetToken(options, token.c_str());
  if (status == NATS_OK && !security.nkeySeedFile.empty())
    status = natsOptions_SetNKeyFromSeed(options, NKeyPublicKey(security.nkeySeedFile).c_str(),
                                         security.nkeySeedFile.c_str());
  if (status == NATS_OK && !security.credentialsFile.empty())
    status = natsOptions_SetUserCredentialsFromFiles(options, security.credentialsFile.c_str(), nullptr);
  return status;
}

}  // namespace

Client::Client(const StreamAddress& address, const NatsSecurity& security, int waitMs)
    : address_(address), waitMs_(waitMs) {
  natsStatus status = natsOptions_Create(&options_);
  std::vector<const char*> servers;
  for (const std::string& server : address_.servers) servers.push_back(server.c_str());
  if (status == NATS_OK)
    status = natsOptions_SetServers(options_, servers.data(), static_cast<int>(servers.size()));
  // The servers are tried in the order given, so a user lists the nearest first.
  if (status == NATS_OK) status = natsOptions_SetNoRandomize(options_, true);
  if (status == NATS_OK) status = natsOptions_SetTimeout(options_, waitMs_);
  // A server that goes away is replaced by another of the cluster, or taken
  // up again when it restarts; until then every request fails after waitMs,
  // so nothing waits for it for long.
  if (status == NATS_OK) status = natsOptions_SetAllowReconnect(options_, true);
  if (status == NATS_OK) status = natsOptions_SetMaxReconnect(options_, -1);
  if (status == NATS_OK) status = natsOptions_SetReconnectWait(options_, 100);
  // Messages are batches of tens of kilobytes: read the socket in large
  // pieces, so one read brings many of them.
  if (status == NATS_OK) status = natsOptions_SetIOBufSize(options_, 1 << 20);
  // Every request of a seek waits for its answer: write it at once instead
  // of handing it to the client's flusher thread, a wake-up per round trip.
  if (status == NATS_OK) status = natsOptions_SetSendAsap(options_, true);
  try {
    if (status == NATS_OK) status = Secure(options_, address_, security);
  } catch (...) {
    natsOptions_Destroy(options_);
    throw;
  }
  if (status != NATS_OK) {
    natsStatus last = NATS_OK;
    const char* detail = nats_GetLastError(&last);
    natsOptions_Destroy(options_);
    throw FeederError(Problem("cannot set up the NATS client", status) +
                      (detail && *detail ? " (" + std::string(detail) + ")" : ""));
  }
  status = natsConnection_Connect(&connection_, options_);
  // libnats 3.4 now and then sends its CONNECT without the signature of the
  // server's nonce (about one sign-in in 250 with an NKey or a credentials
  // file; the server's trace shows the CONNECT without "sig"), and the server
  // refuses it as if the key were wrong. The next try meets a new nonce; a
  // key that is wrong is refused again, with the same message.
  const bool signsNonce = !security.nkeySeedFile.empty() || !security.credentialsFile.empty();
  if (status == NATS_CONNECTION_AUTH_FAILED && signsNonce) status = natsConnection_Connect(&connection_, options_);
  if (status != NATS_OK) {
    const std::string problem = ConnectProblem(Servers(), status, Secured(address_, security));
    natsOptions_Destroy(options_);
    throw FeederError(problem);
  }
  jsOptions js;
  jsOptions_Init(&js);
  js.Wait = waitMs_;
  status = natsConnection_JetStream(&context_, connection_, &js);
  if (status != NATS_OK) {
    natsConnection_Destroy(connection_);
    natsOptions_Destroy(options_);
    throw FeederError(jetstream::Problem("cannot use JetStream on " + Servers(), status));
  }
}

std::string Client::ConnectedServer() const {
  char url[256] = "";
  if (natsConnection_GetConnectedUrl(connection_, url, sizeof url) != NATS_OK || url[0] == '\0') return Servers();
  // The client's form carries the credentials: name the host and port only.
  const char* host = std::strrchr(url, '@');
  const char* scheme = std::strstr(url, "://");
  return scheme ? std::string(url, static_cast<std::size_t>(scheme + 3 - url)) + (host ? host + 1 : scheme + 3) : url;
}

std::string Client::Problem(const std::string& what, natsStatus status, jsErrCode code) const {
  std::string text = jetstream::Problem(what, status, code);
  // A request the server refused for want of a permission is dropped, and
  // the caller sees only a timeout: the refusal comes on the side.
  const char* last = nullptr;
  if (natsConnection_GetLastError(connection_, &last) == NATS_NOT_PERMITTED && last && *last)
    text += "; the server refused a permission: " + std::string(last) +
            " (the user needs to publish to $JS.API.> and the stream's subject, and to subscribe to _INBOX.>)";
  return text;
}

Client::~Client() {
  jsCtx_Destroy(context_);
  natsConnection_Destroy(connection_);
  natsOptions_Destroy(options_);
}

bool Client::Describe(StreamState& state, std::string& problem) const {
  jsStreamInfo* info = nullptr;
  if (!Info(info, problem)) return false;
  state.firstSequence = info->State.Msgs == 0 ? 0 : info->State.FirstSeq;
  state.lastSequence = info->State.Msgs == 0 ? 0 : info->State.LastSeq;
  state.subject = info->Config && info->Config->SubjectsLen > 0 ? info->Config->Subjects[0] : "";
  direct_ = info->Config && info->Config->AllowDirect;
  const bool oneSubject = info->Config && info->Config->SubjectsLen == 1 &&
                          state.subject.find_first_of("*>") == std::string::npos;
  jsStreamInfo_Destroy(info);
  // While a stream of several replicas has no leader, a replica answers
  // with its own state, which may be behind. The last message comes from
  // the leader alone: its sequence is the stream's end.
  if (!oneSubject) return true;
  natsMsg* last = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus status =
      js_GetLastMsg(&last, context_, address_.stream.c_str(), state.subject.c_str(), nullptr, &code);
  if (status == NATS_NOT_FOUND || code == JSNoMessageFoundErr) return true;
  if (status != NATS_OK) {
    problem = Problem("cannot ask " + Servers() + " for the last message of " + address_.stream, status, code);
    return false;
  }
  const std::uint64_t sequence = natsMsg_GetSequence(last);
  natsMsg_Destroy(last);
  if (sequence > state.lastSequence) {
    if (state.firstSequence == 0) state.firstSequence = 1;
    state.lastSequence = sequence;
  }
  return true;
}

Message Client::Get(std::uint64_t sequence, bool& missing, std::string& problem) const {
  natsMsg* message = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus status = NATS_NOT_FOUND;
  if (direct_) {
    // The message as it was published, from any replica: no JSON, no base64.
    jsDirectGetMsgOptions options;
    jsDirectGetMsgOptions_Init(&options);
    options.Sequence = sequence;
    status = js_DirectGetMsg(&message, context_, address_.stream.c_str(), nullptr, &options);
  }
  // A replica that has not received the message yet answers "not found"
  // too: only the leader's answer settles it (and the leader answers when
  // the stream takes no direct gets).
  if (!direct_ || status == NATS_NOT_FOUND)
    status = js_GetMsg(&message, context_, address_.stream.c_str(), sequence, nullptr, &code);
  missing = status == NATS_NOT_FOUND || code == JSNoMessageFoundErr;
  if (status != NATS_OK && !missing)
    problem = Problem("cannot read message " + std::to_string(sequence) + " of " + address_.stream,
                      status, code);
  return Message(status == NATS_OK ? message : nullptr);
}

bool Client::Info(jsStreamInfo*& info, std::string& problem) const {
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus status = js_GetStreamInfo(&info, context_, address_.stream.c_str(), nullptr, &code);
  if (status == NATS_OK) return true;
  problem = code == JSStreamNotFoundErr
                ? "the stream " + address_.stream + " does not exist on " + Servers()
                : Problem("cannot ask " + Servers() + " about the stream " + address_.stream, status, code);
  return false;
}

void Client::Create(const StreamSettings& settings) const {
  const std::string subject = kSubjectPrefix + address_.stream;
  const char* subjects[] = {subject.c_str()};
  jsStreamConfig config;
  jsStreamConfig_Init(&config);
  config.Name = address_.stream.c_str();
  config.Subjects = subjects;
  config.SubjectsLen = 1;
  config.Storage = settings.memory ? js_MemoryStorage : js_FileStorage;
  config.AllowDirect = true;
  config.Replicas = settings.replicas;
  config.MaxAge = settings.maxAgeSeconds * 1000000000;
  config.MaxBytes = settings.maxBytes > 0 ? settings.maxBytes : -1;
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus status = js_AddStream(&info, context_, &config, nullptr, &code);
  jsStreamInfo_Destroy(info);
  // One that exists already (made by another producer) is what we want. A
  // producer that loses a race to create it may hear of the winner's stream
  // as overlapping subjects rather than as a name in use: it is there all
  // the same when asked by name.
  if (status == NATS_OK || code == JSStreamNameExistErr) return;
  if (code == JSStreamSubjectOverlapErr && StreamExists()) return;
  std::string problem = Problem("cannot create the stream " + address_.stream, status, code);
  if (settings.replicas > 1 && code == JSClusterNoPeersErr)
    problem += ": the cluster has fewer than " + std::to_string(settings.replicas) + " servers with JetStream";
  throw FeederError(problem);
}

StreamReport Client::Report() const {
  jsStreamInfo* info = nullptr;
  std::string problem;
  if (!Info(info, problem)) throw FeederError(problem);
  const jsStreamConfig* config = info->Config;
  if (!config) {  // the client fills it for every answer a server gives
    jsStreamInfo_Destroy(info);
    throw FeederError("the server described the stream " + address_.stream + " without its settings");
  }
  StreamReport report;
  report.name = address_.stream;
  report.subject = config->SubjectsLen > 0 ? config->Subjects[0] : "";
  report.storage = config->Storage == js_MemoryStorage ? "memory" : "file";
  report.replicas = static_cast<int>(config->Replicas);
  report.maxAgeSeconds = config->MaxAge / 1000000000;
  report.maxBytes = std::max<std::int64_t>(0, config->MaxBytes);
  report.maxMessages = std::max<std::int64_t>(0, config->MaxMsgs);
  report.messages = info->State.Msgs;
  report.bytes = info->State.Bytes;
  report.firstSequence = info->State.FirstSeq;
  report.lastSequence = info->State.LastSeq;
  if (const jsClusterInfo* cluster = info->Cluster) {
    report.cluster = cluster->Name ? cluster->Name : "";
    report.leader = cluster->Leader ? cluster->Leader : "";
    for (int i = 0; i < cluster->ReplicasLen; ++i) {
      const jsPeerInfo* peer = cluster->Replicas[i];
      std::string state = peer->Offline   ? "offline"
                          : peer->Current ? "current"
                                          : "behind by " + std::to_string(peer->Lag) + " operations";
      report.followers.push_back(std::string(peer->Name ? peer->Name : "?") + " (" + state + ")");
    }
  }
  jsStreamInfo_Destroy(info);
  if (report.messages == 0) return report;
  // The case numbers and the variable list are in the messages themselves.
  bool missing = false;
  Message first = Get(report.firstSequence, missing, problem);
  Message last = first ? Get(report.lastSequence, missing, problem) : Message();
  if (!first || !last)
    throw FeederError(problem.empty() ? "the stream " + address_.stream + " lost its first or last message"
                                      : problem);
  std::int64_t number = 0, count = 0;
  if (first && HeaderNumber(first.get(), kFirstCaseHeader, number)) report.firstCase = number;
  if (last && HeaderNumber(last.get(), kFirstCaseHeader, number) &&
      HeaderNumber(last.get(), kCaseCountHeader, count))
    report.lastCase = number + count - 1;
  if (last) report.variables = HeaderText(last.get(), kVariablesHeader);
  return report;
}

StreamReport ReadStreamReport(const std::string& url, const NatsSecurity& security, int waitMs) {
  return Client(StreamAddress::Parse(url), security, waitMs).Report();
}

bool Client::StreamExists() const {
  jsStreamInfo* info = nullptr;
  const natsStatus status = js_GetStreamInfo(&info, context_, address_.stream.c_str(), nullptr, nullptr);
  jsStreamInfo_Destroy(info);
  return status == NATS_OK;
}

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
