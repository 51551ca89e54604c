#include "dravfeed/JetStreamPublisher.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "dravfeed/FeederError.h"
#include "feeder/jetstream/JetStreamClient.h"

namespace drav {
namespace feed {
namespace {

using namespace jetstream;

// The broker refuses a message with one of these headers unless the
// stream's last sequence is the value ("0": the stream is empty), or its
// last message carries that Nats-Msg-Id.
constexpr char kExpectedLastSequence[] = "Nats-Expected-Last-Sequence";
constexpr char kExpectedLastMessageId[] = "Nats-Expected-Last-Msg-Id";
constexpr char kMessageId[] = "Nats-Msg-Id";
// What the broker answers when an expectation failed.
constexpr int kWrongLastMessageId = 10070;
// Messages sent before the first of them is acknowledged: a round trip per
// message would hold a producer to a few thousand messages a second.
constexpr std::size_t kWindow = 64;
// After a publish went unanswered: how long the stream is asked which
// batches it stored before the publisher gives up (a cluster electing a new
// leader takes a few seconds, more on a busy machine), and the pause
// between two tries.
constexpr int kRecoverMs = 60000;
constexpr int kRecoverPauseMs = 250;
// Unanswered publishes in a row, none of them stored, before giving up.
constexpr int kFruitlessRecoveries = 3;

// Appends batches with a window of messages in flight. Each message expects
// the sequence the one before it will get and, within a window, that one's
// message id as well, so when another producer slips in, the first message
// after it is refused and so is every later one in flight (none of them
// can land after a hole in the chain); the appender then reads the new end
// of the stream and the caller sends the refused cases again, renumbered.
class Appender {
 public:
  Appender(const std::string& url, const VariableList& list, ByteOrder order,
           const PublishOptions& options)
      : client_(StreamAddress::Parse(url), options.security, options.waitMs),
        variables_(VariablesText(list)),
        order_(ByteOrderName(order)) {
    if (options.create) client_.Create(options.stream);
    ReadEnd();
    char* inbox = nullptr;
    natsStatus status = natsInbox_Create(&inbox);
    if (status == NATS_OK) {
      inbox_ = inbox;
      natsInbox_Destroy(inbox);
      producer_ = inbox_.substr(inbox_.rfind('.') + 1);
      status = natsConnection_SubscribeSync(&acks_, client_.Connection(), (inbox_ + ".*").c_str());
    }
    if (status != NATS_OK) throw FeederError(Problem("cannot listen for acknowledgements", status));
    natsSubscription_SetPendingLimits(acks_, -1, -1);
  }
  ~Appender() { natsSubscription_Destroy(acks_); }
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  std::size_t InFlight() const { return inFlight_.size(); }
  bool WindowFull() const { return inFlight_.size() >= kWindow; }

  // Sends one batch (the source's cases sourceFirst ..) after the last one
  // sent; its acknowledgement comes through TakeAck.
  void Send(const char* records, std::size_t bytes, std::int64_t count, std::int64_t sourceFirst) {
    const std::uint64_t id = nextId_++;
    const std::string reply = inbox_ + "." + std::to_string(id);
    natsMsg* raw = nullptr;
    natsStatus status = natsMsg_Create(&raw, subject_.c_str(), reply.c_str(), records,
                                       static_cast<int>(bytes));
    if (status != NATS_OK) throw FeederError(Problem("cannot make a message", status));
    Message message(raw);
    const std::string first = std::to_string(nextCase_);
    const std::string cases = std::to_string(count);
    const std::string last = std::to_string(lastSequence_);
    const std::string messageId = MessageId(id);
    natsMsgHeader_Set(raw, kFirstCaseHeader, first.c_str());
    natsMsgHeader_Set(raw, kCaseCountHeader, cases.c_str());
    natsMsgHeader_Set(raw, kByteOrderHeader, order_.c_str());
    natsMsgHeader_Set(raw, kVariablesHeader, variables_.c_str());
    natsMsgHeader_Set(raw, kExpectedLastSequence, last.c_str());
    natsMsgHeader_Set(raw, kMessageId, messageId.c_str());
    if (!inFlight_.empty())
      natsMsgHeader_Set(raw, kExpectedLastMessageId, MessageId(inFlight_.back().id).c_str());
    ++lastSequence_;
    inFlight_.push_back(Batch{id, sourceFirst, nextCase_, count, lastSequence_, std::move(message)});
    nextCase_ += count;
    Publish(inFlight_.back());
  }

  // Waits for the oldest message's acknowledgement. Returns -1 when it was
  // stored, or the source's case to send again from when another producer
  // came first. Throws FeederError when the broker refused it otherwise or
  // did not answer.
  std::int64_t TakeAck(PublishResult& result) {
    for (;;) {
      natsMsg* raw = nullptr;
      natsStatus status = natsSubscription_NextMsg(&raw, acks_, client_.WaitMs());
      // Unanswered: the server went away, or dropped what we may not publish.
      const char* refusal = nullptr;
      const bool refused = natsConnection_GetLastError(client_.Connection(), &refusal) == NATS_NOT_PERMITTED;
      // "No responders" (the stream had no leader for a moment) comes with
      // no id: it may be about a batch already sent again, so only the
      // stream can tell, and it does not count as a fruitless wait.
      if (status == NATS_NO_RESPONDERS && !refused) return inFlight_.empty() ? -1 : Recover(result);
      if (status == NATS_TIMEOUT && !refused && ++fruitless_ <= kFruitlessRecoveries) return Recover(result);
      if (status != NATS_OK)
        throw FeederError(client_.Problem("no acknowledgement from " + client_.Servers(), status));
      Message ack(raw);
      const std::string subject = natsMsg_GetSubject(raw);
      const std::uint64_t id = std::strtoull(subject.c_str() + subject.rfind('.') + 1, nullptr, 10);
      // An answer to a message refused with an earlier one.
      if (inFlight_.empty() || id != inFlight_.front().id) continue;
      const std::string answer(natsMsg_GetData(raw), static_cast<std::size_t>(natsMsg_GetDataLength(raw)));
      const Batch batch = inFlight_.front();
      if (answer.find("\"error\"") == std::string::npos) {
        inFlight_.pop_front();
        Credit(batch, result);
        return -1;
      }
      const int code = ErrorCode(answer);
      if (code != JSStreamWrongLastSequenceErr && code != kWrongLastMessageId)
        throw FeederError("the stream " + client_.Address().stream + " refused a message: " + answer);
      // Another producer appended first, or a copy of ours sent before.
      std::string problem;
      const std::int64_t again = Resync(result, problem);
      return problem.empty() ? again : Recover(result);
    }
  }

 private:
  struct Batch {
    std::uint64_t id;
    std::int64_t sourceFirst;
    std::int64_t streamFirst;
    std::int64_t count;
    std::uint64_t sequence;  // the stream's sequence it expects to get
    std::shared_ptr<natsMsg> message;  // as sent, to send again unchanged
  };

  // A write that fails because the server just went away leaves the batch
  // in flight: its acknowledgement never comes, and the recovery that
  // follows asks the stream and sends it again through another server.
  void Publish(const Batch& batch) {
    const natsStatus status = natsConnection_PublishMsg(client_.Connection(), batch.message.get());
    if (status == NATS_OK || (LostItsServer(status) && !natsConnection_IsClosed(client_.Connection()))) return;
    throw FeederError(client_.Problem("cannot publish to the stream " + client_.Address().stream, status));
  }

  static bool LostItsServer(natsStatus status) {
    return status == NATS_IO_ERROR || status == NATS_CONNECTION_DISCONNECTED || status == NATS_STALE_CONNECTION;
  }

  void Credit(const Batch& batch, PublishResult& result) {
    if (result.firstCase < 0) result.firstCase = batch.streamFirst;
    result.lastCase = batch.streamFirst + batch.count - 1;
    result.cases += batch.count;
    ++result.messages;
    fruitless_ = 0;
  }

  // The oldest batch in flight went unanswered: its server may have died
  // before or after storing it, and the client moves to another. Waits for
  // the stream to answer again (a cluster first elects a new leader), then
  // resynchronises.
  std::int64_t Recover(PublishResult& result) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRecoverMs);
    // What answers are queued are about the batches the stream is asked about.
    for (;;) {
      natsMsg* stale = nullptr;
      const natsStatus status = natsSubscription_NextMsg(&stale, acks_, 1);
      if (stale) natsMsg_Destroy(stale);
      if (status != NATS_OK && status != NATS_NO_RESPONDERS) break;
    }
    for (;;) {
      std::string problem;
      const std::int64_t again = Resync(result, problem);
      if (problem.empty()) return again;
      if (std::chrono::steady_clock::now() > deadline) throw FeederError("no acknowledgement, and then " + problem);
      poll(nullptr, 0, kRecoverPauseMs);
    }
  }

  // Finds out which batches in flight the stream holds. A batch can only be
  // stored at the sequence it expects, so it is stored exactly when the
  // message there carries its id (they form a chain: the stored ones come
  // first). Of the rest, a batch whose place another producer took can
  // never be stored, nor can any after it: the caller sends them again,
  // renumbered, from the returned source case. A batch whose place is still
  // free may yet be stored by a copy on its way: it is sent again as it was,
  // with the same id, so the stream keeps only one of the two copies.
  // Returns -1 when nothing needs sending anew; `problem` set when the
  // stream cannot be asked.
  std::int64_t Resync(PublishResult& result, std::string& problem) {
    StreamState state;
    if (!client_.Describe(state, problem)) return -1;
    std::size_t stored = 0;
    for (; stored < inFlight_.size() && inFlight_[stored].sequence <= state.lastSequence; ++stored) {
      bool missing = false;
      Message message = client_.Get(inFlight_[stored].sequence, missing, problem);
      if (!message && !missing) return -1;
      if (!message || HeaderText(message.get(), kMessageId) != MessageId(inFlight_[stored].id)) break;
    }
    ++result.retries;
    for (; stored > 0; --stored) {
      Credit(inFlight_.front(), result);
      inFlight_.pop_front();
    }
    // A leader just elected may not have applied all it holds yet: it looks
    // shorter than it is until it has. One that stays so lost messages.
    if (!inFlight_.empty() && inFlight_.front().sequence > state.lastSequence + 1) {
      problem = "the stream " + client_.Address().stream + " ends at message " +
                std::to_string(state.lastSequence) + ", before messages it had acknowledged";
      return -1;
    }
    if (inFlight_.empty() || inFlight_.front().sequence > state.lastSequence) {
      for (const Batch& batch : inFlight_) Publish(batch);
      return -1;
    }
    try {
      ReadEnd();
    } catch (const InputError&) {
      throw;
    } catch (const FeederError& error) {
      problem = error.what();
      return -1;
    }
    const std::int64_t again = inFlight_.front().sourceFirst;
    inFlight_.clear();
    return again;
  }

  std::string MessageId(std::uint64_t id) const { return producer_ + "-" + std::to_string(id); }

  static int ErrorCode(const std::string& answer) {
    const std::string key = "\"err_code\":";
    std::size_t at = answer.find(key);
    return at == std::string::npos ? 0 : std::atoi(answer.c_str() + at + key.size());
  }

  void ReadEnd() {
    StreamState state;
    std::string problem;
    if (!client_.Describe(state, problem)) throw FeederError(problem);
    if (state.subject.empty() || state.subject.find_first_of("*>") != std::string::npos)
      throw FeederError("the stream " + client_.Address().stream +
                        " has no plain subject to publish on");
    subject_ = state.subject;
    lastSequence_ = state.lastSequence;
    nextCase_ = 0;
    if (lastSequence_ == 0) return;
    bool missing = false;
    Message last = client_.Get(lastSequence_, missing, problem);
    if (!last) throw FeederError(missing ? "the stream's last message went missing" : problem);
    const std::string variables = HeaderText(last.get(), kVariablesHeader);
    if (variables != variables_)
      throw InputError("the stream " + client_.Address().stream + " holds the variables \"" +
                       variables + "\", not \"" + variables_ + "\"");
    std::int64_t first = 0, count = 0;
    if (!HeaderNumber(last.get(), kFirstCaseHeader, first) ||
        !HeaderNumber(last.get(), kCaseCountHeader, count))
      throw FeederError("the stream " + client_.Address().stream +
                        " ends with a message without case numbers");
    nextCase_ = first + count;
  }

  Client client_;
  const std::string variables_;
  const std::string order_;
  std::string subject_;
  std::string inbox_;
  std::string producer_;
  natsSubscription* acks_ = nullptr;
  std::deque<Batch> inFlight_;
  std::uint64_t nextId_ = 0;
  // The stream's end as this producer expects it after what it sent.
  std::uint64_t lastSequence_ = 0;
  std::int64_t nextCase_ = 0;
  int fruitless_ = 0;  // recoveries in a row that found nothing stored
};

// Sends the source's cases batch by batch, `result` counting what the stream
// acknowledged.
void Append(Appender& appender, CaseSource& cases, const PublishOptions& options,
            PublishResult& result) {
  const std::int64_t batch = std::max<std::int64_t>(1, options.casesPerMessage);
  std::vector<char> buffer;
  std::int64_t done = 0;
  bool quiet = false;  // a growing source gave nothing new for a while
  for (;;) {
    if (options.cancel && *options.cancel) {
      result.cancelled = true;
      return;
    }
    // The order matters: once the source says no more comes, its count is final.
    const bool grows = cases.MoreMayCome();
    const std::int64_t ready = cases.CaseCount() - done;
    // A growing source sends full batches, and a short one when it pauses
    // (a slow live input must not wait for a whole batch) or ends.
    if (!appender.WindowFull() && (ready >= batch || (ready > 0 && (!grows || quiet)))) {
      const std::int64_t count = std::min(ready, batch);
      buffer.resize(static_cast<std::size_t>(count) * cases.RecordBytes());
      cases.Render(done, count, buffer.data());
      appender.Send(buffer.data(), buffer.size(), count, done);
      done += count;
      continue;
    }
    if (appender.InFlight() > 0) {
      const std::int64_t again = appender.TakeAck(result);
      if (again >= 0) done = again;
      continue;
    }
    if (!grows) return;
    pollfd wait{cases.ChangeFd(), POLLIN, 0};
    quiet = poll(&wait, 1, 20) == 0;
    cases.TakeChange();
  }
}


// Where a failed publish left the stream, for the user who resumes it.
std::string Progress(const PublishResult& result, std::size_t inFlight) {
  std::string text = "the stream acknowledged none of this input's cases";
  if (result.cases > 0)
    text = "the stream acknowledged the first " + std::to_string(result.cases) +
           " cases of this input (its cases " + std::to_string(result.firstCase) + " to " +
           std::to_string(result.lastCase) + "): to resume, publish the input again without its first " +
           std::to_string(result.cases) + " cases (data lines of a CSV)";
  if (inFlight > 0)
    text += "; " + std::to_string(inFlight) +
            " more batches went unanswered and may be stored as well: check the stream's last case "
            "with dravfeed --info";
  return text;
}

}  // namespace

PublishResult PublishCases(const std::string& url, CaseSource& cases,
                           const VariableList& list, ByteOrder order,
                           const PublishOptions& options) {
  if (cases.RecordBytes() != list.RecordBytes())
    throw FeederError("the cases do not have the records of the variable list");
  Appender appender(url, list, order, options);
  PublishResult result;
  try {
    Append(appender, cases, options, result);
  } catch (const FeederError& error) {
    throw FeederError(std::string(error.what()) + "; " + Progress(result, appender.InFlight()));
  }
  return result;
}

}  // namespace feed
}  // namespace drav
