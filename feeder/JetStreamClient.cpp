#include "feeder/JetStreamClient.h"

#include <charconv>
#include <cstring>

#include "feeder/FeederError.h"

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

Client::Client(const StreamAddress& address, int waitMs) : address_(address), waitMs_(waitMs) {
  natsStatus status = natsOptions_Create(&options_);
  if (status == NATS_OK) status = natsOptions_SetURL(options_, address_.server.c_str());
  if (status == NATS_OK) status = natsOptions_SetTimeout(options_, waitMs_);
  // A server that restarts is taken up again by itself; until then every
  // request fails after waitMs, so nothing waits for it for long.
  if (status == NATS_OK) status = natsOptions_SetAllowReconnect(options_, true);
  if (status == NATS_OK) status = natsOptions_SetMaxReconnect(options_, -1);
  if (status == NATS_OK) status = natsOptions_SetReconnectWait(options_, 100);
  // Messages are batches of tens of kilobytes: read the socket in large
  // pieces, so one read brings many of them.
  if (status == NATS_OK) status = natsOptions_SetIOBufSize(options_, 1 << 20);
  // Every request of a seek waits for its answer: write it at once instead
  // of handing it to the client's flusher thread, a wake-up per round trip.
  if (status == NATS_OK) status = natsOptions_SetSendAsap(options_, true);
  if (status != NATS_OK) {
    natsOptions_Destroy(options_);
    throw FeederError(Problem("cannot set up the NATS client", status));
  }
  status = natsConnection_Connect(&connection_, options_);
  if (status != NATS_OK) {
    natsOptions_Destroy(options_);
    throw FeederError(Problem("cannot reach the NATS server " + address_.server, status));
  }
  jsOptions js;
  jsOptions_Init(&js);
  js.Wait = waitMs_;
  status = natsConnection_JetStream(&context_, connection_, &js);
  if (status != NATS_OK) {
    natsConnection_Destroy(connection_);
    natsOptions_Destroy(options_);
    throw FeederError(Problem("cannot use JetStream on " + address_.server, status));
  }
}

Client::~Client() {
  jsCtx_Destroy(context_);
  natsConnection_Destroy(connection_);
  natsOptions_Destroy(options_);
}

bool Client::Describe(StreamState& state, std::string& problem) const {
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus status = js_GetStreamInfo(&info, context_, address_.stream.c_str(), nullptr, &code);
  if (status != NATS_OK) {
    problem = code == JSStreamNotFoundErr
                  ? "the stream " + address_.stream + " does not exist on " + address_.server
                  : Problem("cannot ask " + address_.server + " about the stream " + address_.stream,
                            status, code);
    return false;
  }
  state.firstSequence = info->State.Msgs == 0 ? 0 : info->State.FirstSeq;
  state.lastSequence = info->State.Msgs == 0 ? 0 : info->State.LastSeq;
  state.subject = info->Config && info->Config->SubjectsLen > 0 ? info->Config->Subjects[0] : "";
  direct_ = info->Config && info->Config->AllowDirect;
  jsStreamInfo_Destroy(info);
  return true;
}

Message Client::Get(std::uint64_t sequence, bool& missing, std::string& problem) const {
  natsMsg* message = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus status;
  if (direct_) {
    // The message as it was published, from any replica: no JSON, no base64.
    jsDirectGetMsgOptions options;
    jsDirectGetMsgOptions_Init(&options);
    options.Sequence = sequence;
    status = js_DirectGetMsg(&message, context_, address_.stream.c_str(), nullptr, &options);
  } else {
    status = js_GetMsg(&message, context_, address_.stream.c_str(), sequence, nullptr, &code);
  }
  missing = status == NATS_NOT_FOUND || code == JSNoMessageFoundErr;
  if (status != NATS_OK && !missing)
    problem = Problem("cannot read message " + std::to_string(sequence) + " of " + address_.stream,
                      status, code);
  return Message(status == NATS_OK ? message : nullptr);
}

void Client::Create() const {
  const std::string subject = kSubjectPrefix + address_.stream;
  const char* subjects[] = {subject.c_str()};
  jsStreamConfig config;
  jsStreamConfig_Init(&config);
  config.Name = address_.stream.c_str();
  config.Subjects = subjects;
  config.SubjectsLen = 1;
  config.Storage = js_FileStorage;
  config.AllowDirect = true;
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
  throw FeederError(Problem("cannot create the stream " + address_.stream, status, code));
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
