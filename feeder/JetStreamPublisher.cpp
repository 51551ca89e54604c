#include "feeder/JetStreamPublisher.h"

#include <poll.h>

#include <algorithm>
#include <vector>

#include "feeder/FeederError.h"
#include "feeder/JetStreamClient.h"

namespace drav {
namespace feed {
namespace {

using namespace jetstream;

// The broker refuses a message with this header unless the stream's last
// sequence is the value ("0": the stream is empty).
constexpr char kExpectedLastSequence[] = "Nats-Expected-Last-Sequence";

class Appender {
 public:
  Appender(const std::string& url, const VariableList& list, ByteOrder order,
           const PublishOptions& options)
      : client_(StreamAddress::Parse(url), options.waitMs),
        variables_(VariablesText(list)),
        order_(ByteOrderName(order)) {
    if (options.create) client_.Create();
    ReadEnd();
  }

  // Appends one batch after whatever the stream ends with now.
  void Append(const char* records, std::size_t bytes, std::int64_t count, PublishResult& result) {
    for (;;) {
      natsMsg* raw = nullptr;
      natsStatus status = natsMsg_Create(&raw, subject_.c_str(), nullptr, records,
                                         static_cast<int>(bytes));
      if (status != NATS_OK) throw FeederError(Problem("cannot make a message", status));
      Message message(raw);
      const std::string first = std::to_string(nextCase_);
      const std::string cases = std::to_string(count);
      const std::string last = std::to_string(lastSequence_);
      natsMsgHeader_Set(raw, kFirstCaseHeader, first.c_str());
      natsMsgHeader_Set(raw, kCaseCountHeader, cases.c_str());
      natsMsgHeader_Set(raw, kByteOrderHeader, order_.c_str());
      natsMsgHeader_Set(raw, kVariablesHeader, variables_.c_str());
      natsMsgHeader_Set(raw, kExpectedLastSequence, last.c_str());
      jsPubAck* ack = nullptr;
      jsErrCode code = static_cast<jsErrCode>(0);
      status = js_PublishMsg(&ack, client_.Context(), raw, nullptr, &code);
      if (status == NATS_OK) {
        lastSequence_ = ack->Sequence;
        jsPubAck_Destroy(ack);
        if (result.firstCase < 0) result.firstCase = nextCase_;
        result.lastCase = nextCase_ + count - 1;
        nextCase_ += count;
        result.cases += count;
        ++result.messages;
        return;
      }
      if (code != JSStreamWrongLastSequenceErr)
        throw FeederError(Problem("cannot publish to the stream " + client_.Address().stream,
                                  status, code));
      // Another producer appended first: number the batch after its cases.
      ++result.retries;
      ReadEnd();
    }
  }

 private:
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
  std::uint64_t lastSequence_ = 0;
  std::int64_t nextCase_ = 0;
};

}  // namespace

PublishResult PublishCases(const std::string& url, const CaseSource& cases,
                           const VariableList& list, ByteOrder order,
                           const PublishOptions& options) {
  if (cases.RecordBytes() != list.RecordBytes())
    throw FeederError("the cases do not have the records of the variable list");
  Appender appender(url, list, order, options);
  const std::int64_t batch = std::max<std::int64_t>(1, options.casesPerMessage);
  std::vector<char> buffer;
  PublishResult result;
  std::int64_t done = 0;
  bool quiet = false;  // a growing source gave nothing new for a while
  for (;;) {
    if (options.cancel && *options.cancel) {
      result.cancelled = true;
      return result;
    }
    // The order matters: once the source says no more comes, its count is final.
    const bool grows = cases.MoreMayCome();
    const std::int64_t ready = cases.CaseCount() - done;
    // A growing source sends full batches, and a short one when it pauses
    // (a slow live input must not wait for a whole batch) or ends.
    if (ready >= batch || (ready > 0 && (!grows || quiet))) {
      const std::int64_t count = std::min(ready, batch);
      buffer.resize(static_cast<std::size_t>(count) * cases.RecordBytes());
      cases.Render(done, count, buffer.data());
      appender.Append(buffer.data(), buffer.size(), count, result);
      done += count;
      continue;
    }
    if (!grows) return result;
    pollfd wait{cases.ChangeFd(), POLLIN, 0};
    quiet = poll(&wait, 1, 20) == 0;
    cases.TakeChange();
  }
}

}  // namespace feed
}  // namespace drav
