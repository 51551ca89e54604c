#include "dravfeed/JetStreamCases.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "dravfeed/FeederError.h"
#include "feeder/jetstream/JetStreamClient.h"
#include "feeder/records/PosixIo.h"

namespace drav {
namespace feed {

using jetstream::Message;

namespace {

// A case at most this far ahead of the consumer is read on to; one further
// away is sought, which costs a few probes instead of every message between.
constexpr std::int64_t kReadOnCases = 16 * jetstream::kCasesPerMessage;
// How often a following source asks the server for new messages.
constexpr auto kFollowEvery = std::chrono::milliseconds(10);
// How long a stream that looks shorter than before is asked again.
constexpr auto kShrinkWait = std::chrono::seconds(3);
// How long a reader waits for a cluster to elect new leaders.
constexpr auto kElectionWait = std::chrono::seconds(20);
// How long the server keeps a consumer no one listens to.
constexpr std::int64_t kConsumerLingerNs = 5'000'000'000;

// The part of a message the source relies on, checked.
struct Batch {
  std::int64_t first = 0;
  std::int64_t count = 0;
  bool swapped = false;  // its numbers are in the other order than we serve
};

}  // namespace

struct DRAV_FEED_HIDDEN JetStreamCases::State {
  State(const std::string& url, const VariableList& variables, ByteOrder serveOrder,
        JetStreamReadOptions readOptions)
      : client(jetstream::StreamAddress::Parse(url), readOptions.security, readOptions.waitMs),
        list(variables),
        variablesText(jetstream::VariablesText(variables)),
        orderName(jetstream::ByteOrderName(serveOrder)),
        options(std::move(readOptions)) {
    const wire::CaseLayout& layout = list.Layout();
    for (std::size_t column = 0; column < layout.VariableCount(); ++column)
      if (!layout.IsString(column)) numberOffsets.push_back(layout.ByteOffset(column));
  }

  // Checks a message's headers against what we serve; empty when it is good.
  std::string Check(natsMsg* message, Batch& batch) const;
  // Reads the stream's extent; false with `problem` set when it cannot.
  bool Refresh(std::string& problem);
  // One look at it: read, or holding fewer cases than before, or failed;
  // `problem` set unless read.
  enum class Look { kRead, kShorter, kFailed };
  Look Measure(std::string& problem);
  // The first of our messages at or after `sequence`, up to `limit`:
  // `sequence` becomes its sequence (0 when there is none), `batch` its
  // headers; false with `problem` when one is not ours or the server failed.
  bool FirstAtOrAfter(std::uint64_t& sequence, std::uint64_t limit, Batch& batch,
                      std::string& problem);
  // The message holding `wanted`: its sequence and first case.
  bool Find(std::int64_t wanted, std::uint64_t& sequence, std::int64_t& first,
            std::string& problem);
  // Reading stands at the message holding `wanted` (in hand when a probe
  // read it); false with `problem`.
  bool Position(std::int64_t wanted, std::string& problem);
  // Starts the consumer at expectSequence; false with `problem`.
  bool Subscribe(std::string& problem);
  // The consumer's next message, checked; false with `problem`.
  bool Next(std::string& problem);
  void Copy(std::int64_t first, std::int64_t count, char* out) const;
  void Break(std::int64_t at, const std::string& problem);
  void CloseConsumer();
  void Follow();

  jetstream::Client client;
  const VariableList list;
  const std::string variablesText;
  const std::string orderName;
  const JetStreamReadOptions options;
  std::vector<std::size_t> numberOffsets;
  std::string subject;

  // The stream as last read (the follow thread writes these too).
  std::atomic<std::int64_t> total{0};
  std::atomic<std::uint64_t> firstSequence{0};
  std::atomic<std::uint64_t> lastSequence{0};
  std::atomic<bool> broken{false};
  std::atomic<std::int64_t> brokenAt{0};
  // The stream's case served as case 0, and the most cases it has held.
  std::int64_t base = 0;
  std::int64_t mostCases = 0;
  bool foreign = false;  // Refresh found a message that is not ours
  // The stream's first message as last found: for the first sequence the
  // stream reported, the first of our messages from there and its first case.
  struct {
    std::uint64_t sequence = 0;
    std::uint64_t found = 0;
    std::int64_t firstCase = 0;
  } knownFirst;

  // Where reading stands: the consumer (started when first needed), the
  // message in hand, and what must come next.
  bool positioned = false;
  natsSubscription* consumer = nullptr;
  std::string readingFrom;  // the server the consumer was made on
  Message current;
  Batch currentBatch;
  std::uint64_t expectSequence = 0;
  std::int64_t expectFirst = 0;
  // The message the last probe found.
  Message probed;
  std::uint64_t probedSequence = 0;
  Batch probedBatch;

  int changeFd = -1;
  std::mutex followMutex;
  std::condition_variable followWake;
  bool stopping = false;
  std::thread follower;
};

std::string JetStreamCases::State::Check(natsMsg* message, Batch& batch) const {
  using namespace jetstream;
  const char* variables = HeaderText(message, kVariablesHeader);
  if (variablesText != variables)
    return "its variable list is \"" + std::string(variables) + "\", not \"" + variablesText + "\"";
  if (!HeaderNumber(message, kFirstCaseHeader, batch.first) ||
      !HeaderNumber(message, kCaseCountHeader, batch.count) || batch.count == 0)
    return std::string("it lacks a valid ") + kFirstCaseHeader + " or " + kCaseCountHeader;
  const char* order = HeaderText(message, kByteOrderHeader);
  if (std::strcmp(order, "little") != 0 && std::strcmp(order, "big") != 0)
    return std::string("it lacks a valid ") + kByteOrderHeader;
  batch.swapped = orderName != order;
  const std::int64_t bytes = natsMsg_GetDataLength(message);
  if (bytes != batch.count * static_cast<std::int64_t>(list.RecordBytes()))
    return "it holds " + std::to_string(bytes) + " bytes, not " + std::to_string(batch.count) +
           " records of " + std::to_string(list.RecordBytes());
  return std::string();
}

bool JetStreamCases::State::Refresh(std::string& problem) {
  // A leader just elected may not have applied all it holds yet and look
  // shorter than before: only one that stays so has lost cases.
  const auto deadline = std::chrono::steady_clock::now() + kShrinkWait;
  Look look;
  while ((look = Measure(problem)) == Look::kShorter && std::chrono::steady_clock::now() < deadline)
    poll(nullptr, 0, 250);
  return look == Look::kRead;
}

JetStreamCases::State::Look JetStreamCases::State::Measure(std::string& problem) {
  problem.clear();
  jetstream::StreamState state;
  if (!client.Describe(state, problem)) return Look::kFailed;
  if (state.subject.empty()) {
    problem = "the stream " + client.Address().stream + " has no subject";
    return Look::kFailed;
  }
  subject = state.subject;
  std::int64_t cases = 0;
  if (state.lastSequence != 0) {
    bool missing = false;
    Message last = client.Get(state.lastSequence, missing, problem);
    if (!last) {
      if (missing) problem = "message " + std::to_string(state.lastSequence) + " went missing";
      return Look::kFailed;
    }
    Batch batch;
    std::string wrong = Check(last.get(), batch);
    if (!wrong.empty()) {
      foreign = true;
      problem = "the stream " + client.Address().stream + " cannot be served: its message " +
                std::to_string(state.lastSequence) + " is not ours (" + wrong + ")";
      return Look::kFailed;
    }
    cases = batch.first + batch.count;
  }
  if (cases < mostCases) {
    problem = "the stream " + client.Address().stream + " now holds cases up to " + std::to_string(cases) +
              " only, where it held " + std::to_string(mostCases) +
              ": cases it acknowledged are gone (a server lost them or someone purged the stream)";
    return Look::kShorter;
  }
  mostCases = cases;
  firstSequence.store(state.firstSequence);
  lastSequence.store(state.lastSequence);
  total.store(cases);
  return Look::kRead;
}

bool JetStreamCases::State::FirstAtOrAfter(std::uint64_t& sequence, std::uint64_t limit,
                                           Batch& batch, std::string& problem) {
  for (; sequence <= limit; ++sequence) {
    bool missing = false;
    Message message = client.Get(sequence, missing, problem);
    if (message) {
      const std::string wrong = Check(message.get(), batch);
      if (wrong.empty()) {
        probed = std::move(message);
        probedSequence = sequence;
        probedBatch = batch;
        return true;
      }
      problem = "message " + std::to_string(sequence) + " is not ours (" + wrong + ")";
      return false;
    }
    if (!missing) return false;
  }
  sequence = 0;
  return true;
}

bool JetStreamCases::State::Find(std::int64_t wanted, std::uint64_t& low, std::int64_t& lowFirst,
                                 std::string& problem) {
  const std::uint64_t last = lastSequence.load();
  low = firstSequence.load();
  if (last == 0 || low == 0) {
    problem = "the stream is empty";
    return false;
  }
  // The stream's first message is the same from pass to pass until the
  // stream drops it: ask for it once.
  if (low != knownFirst.sequence || knownFirst.found == 0) {
    Batch batch;
    std::uint64_t found = low;
    if (!FirstAtOrAfter(found, last, batch, problem)) return false;
    knownFirst = {low, found, batch.first};
  }
  low = knownFirst.found;
  lowFirst = knownFirst.firstCase;
  if (low == 0) {
    problem = "the stream holds none of its messages any more";
    return false;
  }
  if (lowFirst > wanted) {
    problem = "the stream's first message holds no case before " + std::to_string(lowFirst) +
              ": the stream's limits (max age, max bytes, max messages) dropped the older ones; raise them "
              "to keep every case, or serve from there on (--start " + std::to_string(lowFirst) + ")";
    return false;
  }
  // The last message whose first case is at most `wanted`. Messages hold
  // kCasesPerMessage cases but for a few short ones, so the first probe
  // guesses from that and usually finds the case in the message it reads;
  // a binary search finishes what the guess left open.
  std::uint64_t high = last;
  auto probe = [&](std::uint64_t at) -> bool {
    Batch batch;
    std::uint64_t found = at;
    if (!FirstAtOrAfter(found, high, batch, problem)) return false;
    if (found == 0 || batch.first > wanted) {
      high = at - 1;
    } else {
      low = found;
      lowFirst = batch.first;
      if (wanted < batch.first + batch.count) high = found;
    }
    return true;
  };
  if (low < high && lowFirst + jetstream::kCasesPerMessage <= wanted) {
    const std::uint64_t guess =
        low + static_cast<std::uint64_t>((wanted - lowFirst) / jetstream::kCasesPerMessage);
    if (!probe(std::min(guess, high))) return false;
  } else if (low < high && !probe(low + 1)) {
    return false;
  }
  while (low < high) {
    if (!probe(low + (high - low + 1) / 2)) return false;
  }
  return true;
}

bool JetStreamCases::State::Position(std::int64_t wanted, std::string& problem) {
  CloseConsumer();
  std::uint64_t sequence = 0;
  std::int64_t first = 0;
  if (!Find(wanted, sequence, first, problem)) return false;
  positioned = true;
  expectSequence = sequence;
  expectFirst = first;
  // A seek's last probe read the message itself: serve it while the
  // consumer for the messages after it starts.
  if (probed && probedSequence == sequence) {
    current = std::move(probed);
    currentBatch = probedBatch;
    ++expectSequence;
    expectFirst += currentBatch.count;
  }
  probed.reset();
  return true;
}

bool JetStreamCases::State::Subscribe(std::string& problem) {
  jsSubOptions subscribe;
  jsSubOptions_Init(&subscribe);
  subscribe.Stream = client.Address().stream.c_str();
  subscribe.Ordered = true;
  subscribe.Config.DeliverPolicy = js_DeliverByStartSequence;
  subscribe.Config.OptStartSeq = expectSequence;
  // Should our deletion not reach the server (it went away), it drops the
  // consumer itself once no one listens.
  subscribe.Config.InactiveThreshold = kConsumerLingerNs;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus status = NATS_OK;
  // A cluster that lost a server places no consumer until it has elected
  // new leaders: wait for that, a few seconds, rather than end the pass.
  const auto deadline = std::chrono::steady_clock::now() + kElectionWait;
  do {
    code = static_cast<jsErrCode>(0);
    status = js_SubscribeSync(&consumer, client.Context(), subject.c_str(), nullptr, &subscribe, &code);
    if (status != NATS_OK && status != NATS_TIMEOUT) poll(nullptr, 0, 100);  // answered at once: pace the asking
  } while ((status == NATS_TIMEOUT || status == NATS_NO_RESPONDERS || code == JSClusterNotAvailErr) &&
           std::chrono::steady_clock::now() < deadline);
  if (status != NATS_OK) {
    consumer = nullptr;
    problem = jetstream::Problem("cannot start reading at message " + std::to_string(expectSequence),
                                 status, code);
    CloseConsumer();
    return false;
  }
  readingFrom = client.ConnectedServer();
  // Records arrive in batches of tens of kilobytes; let many wait for us.
  natsSubscription_SetPendingLimits(consumer, 1 << 16, 1 << 30);
  return true;
}

bool JetStreamCases::State::Next(std::string& problem) {
  natsMsg* raw = nullptr;
  natsStatus status = natsSubscription_NextMsg(&raw, consumer, options.waitMs);
  if (status != NATS_OK) {
    problem = status == NATS_TIMEOUT
                  ? "the server " + readingFrom + " sent nothing for " + std::to_string(options.waitMs) +
                        " ms (it is gone or stalled)"
                  : jetstream::Problem("reading failed", status);
    CloseConsumer();
    return false;
  }
  Message message(raw);
  jsMsgMetaData* meta = nullptr;
  std::uint64_t sequence = 0;
  if (natsMsg_GetMetaData(&meta, message.get()) == NATS_OK) {
    sequence = meta->Sequence.Stream;
    jsMsgMetaData_Destroy(meta);
  }
  Batch batch;
  std::string wrong = Check(message.get(), batch);
  if (sequence != expectSequence) {
    problem = sequence > expectSequence
                  ? "message " + std::to_string(expectSequence) +
                        (sequence - expectSequence > 1 ? " to " + std::to_string(sequence - 1) : "") +
                        " is missing (deleted or lost)"
                  : "message " + std::to_string(sequence) + " came out of order";
  } else if (!wrong.empty()) {
    problem = "message " + std::to_string(sequence) + " is not ours (" + wrong + ")";
  } else if (batch.first != expectFirst) {
    problem = "message " + std::to_string(sequence) + " starts at case " +
              std::to_string(batch.first) + ", where case " + std::to_string(expectFirst) +
              " belongs";
  }
  if (!problem.empty()) {
    CloseConsumer();
    return false;
  }
  current = std::move(message);
  currentBatch = batch;
  ++expectSequence;
  expectFirst += batch.count;
  return true;
}

void JetStreamCases::State::Copy(std::int64_t first, std::int64_t count, char* out) const {
  const std::size_t recordBytes = list.RecordBytes();
  const char* from = natsMsg_GetData(current.get()) +
                     static_cast<std::size_t>(first - currentBatch.first) * recordBytes;
  std::memcpy(out, from, static_cast<std::size_t>(count) * recordBytes);
  if (!currentBatch.swapped) return;
  for (std::int64_t i = 0; i < count; ++i) {
    char* record = out + static_cast<std::size_t>(i) * recordBytes;
    for (std::size_t offset : numberOffsets) Reverse8(record + offset);
  }
}

void JetStreamCases::State::Break(std::int64_t at, const std::string& problem) {
  brokenAt.store(std::max<std::int64_t>(0, at - base));
  broken.store(true);
  if (options.onProblem)
    options.onProblem("the stream " + client.Address().stream + " breaks at case " +
                      std::to_string(at) + ": " + problem + "; the pass ends after " +
                      std::to_string(std::max<std::int64_t>(0, at - base)) + " cases");
}

void JetStreamCases::State::CloseConsumer() {
  if (consumer) {
    // Unsubscribing deletes the consumer on the server as well (a round
    // trip); destroying alone would leave the client delivering to it.
    natsSubscription_Unsubscribe(consumer);
    natsSubscription_Destroy(consumer);
  }
  consumer = nullptr;
  positioned = false;
  current.reset();
}

void JetStreamCases::State::Follow() {
  std::unique_lock<std::mutex> lock(followMutex);
  while (!followWake.wait_for(lock, kFollowEvery, [&] { return stopping; })) {
    lock.unlock();
    jetstream::StreamState state;
    std::string problem;
    // A server away for a while is asked again at the next round; the
    // reading side reports it.
    if (client.Describe(state, problem) && state.lastSequence != lastSequence.load()) {
      bool missing = false;
      Message last = client.Get(state.lastSequence, missing, problem);
      Batch batch;
      if (last && Check(last.get(), batch).empty() && batch.first + batch.count > total.load()) {
        // A stream that was empty when the source opened has its first
        // message only now.
        firstSequence.store(state.firstSequence);
        lastSequence.store(state.lastSequence);
        total.store(batch.first + batch.count);
        posix::SignalEvent(changeFd);  // a full counter is still readable: nothing is lost
      }
    }
    lock.lock();
  }
}

JetStreamCases::JetStreamCases(const std::string& url, const VariableList& list, ByteOrder order,
                               JetStreamReadOptions options)
    : state_(std::make_unique<State>(url, list, order, std::move(options))) {
  std::string problem;
  if (!state_->Refresh(problem)) {
    if (state_->foreign) throw InputError(problem);
    throw FeederError(problem);
  }
  const JetStreamReadOptions& read = state_->options;
  state_->base = read.startFromEnd ? std::max<std::int64_t>(0, state_->total.load() - read.startCase)
                                   : read.startCase;
  if (state_->options.follow) {
    const posix::Result event = posix::MakeEvent();
    if (!event.ok()) throw SystemError("cannot make an event descriptor", event.error);
    state_->changeFd = static_cast<int>(event.value);
    state_->follower = std::thread(&State::Follow, state_.get());
  }
}

JetStreamCases::~JetStreamCases() {
  if (state_->follower.joinable()) {
    {
      std::lock_guard<std::mutex> lock(state_->followMutex);
      state_->stopping = true;
    }
    state_->followWake.notify_all();
    state_->follower.join();
  }
  state_->CloseConsumer();
  posix::Close(state_->changeFd);
}

std::int64_t JetStreamCases::CaseCount() const {
  if (state_->broken.load()) return state_->brokenAt.load();
  return std::max<std::int64_t>(0, state_->total.load() - state_->base);
}

std::int64_t JetStreamCases::FirstServedCase() const { return state_->base; }

bool JetStreamCases::MoreMayCome() const { return state_->options.follow && !state_->broken.load(); }

bool JetStreamCases::Broken() const { return state_->broken.load(); }

int JetStreamCases::ChangeFd() const { return state_->changeFd; }

void JetStreamCases::TakeChange() {
  if (state_->changeFd >= 0) posix::DrainEvent(state_->changeFd);  // nothing to take is fine
}

std::size_t JetStreamCases::RecordBytes() const { return state_->list.RecordBytes(); }

void JetStreamCases::PassStarts() {
  State& state = *state_;
  state.broken.store(false);
  // A pass starts at case 0 or at a seek: the consumer of the pass before
  // would only go on filling the connection ahead of this pass's requests.
  state.CloseConsumer();
  std::string problem;
  if (!state.Refresh(problem)) state.Break(state.base, problem);
}

std::int64_t JetStreamCases::RenderSome(std::int64_t first, std::int64_t count, char* out) {
  State& state = *state_;
  const std::size_t recordBytes = state.list.RecordBytes();
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t wanted = state.base + first + done;
    const Batch& batch = state.currentBatch;
    if (state.current && wanted >= batch.first && wanted < batch.first + batch.count) {
      const std::int64_t take = std::min(count - done, batch.first + batch.count - wanted);
      state.Copy(wanted, take, out + static_cast<std::size_t>(done) * recordBytes);
      done += take;
      continue;
    }
    // Reading goes on where it stands when the case lies ahead of it;
    // anything else is a seek.
    const bool ahead = state.positioned && state.expectFirst <= wanted &&
                       wanted < state.expectFirst + kReadOnCases;
    // The first cases of a seek go out before the consumer is started.
    if (ahead && !state.consumer && done > 0) break;
    std::string problem;
    const bool read = ahead ? (state.consumer || state.Subscribe(problem)) && state.Next(problem)
                            : state.Position(wanted, problem);
    if (!read) {
      state.Break(wanted, problem);
      break;
    }
  }
  return done;
}

void JetStreamCases::Render(std::int64_t first, std::int64_t count, char* out) {
  const std::size_t recordBytes = state_->list.RecordBytes();
  // RenderSome may stop early at a seek; it renders nothing only at a break.
  std::int64_t done = 0;
  for (std::int64_t some = 1; done < count && some > 0; done += some)
    some = RenderSome(first + done, count - done, out + static_cast<std::size_t>(done) * recordBytes);
  std::memset(out + static_cast<std::size_t>(done) * recordBytes, 0,
              static_cast<std::size_t>(count - done) * recordBytes);
}

}  // namespace feed
}  // namespace drav
