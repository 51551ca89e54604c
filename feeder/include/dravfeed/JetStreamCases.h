#pragma once
// The cases of a NATS JetStream stream (see docs/SCALING.md), served like
// any other source: case n is the n-th record of the stream.
//
// A run of cases is read with an ordered consumer that starts at the message
// holding the run's first case; the next run usually continues it, so a pass
// costs one consumer. A rewind or a seek looks for the message holding the
// case with a binary search over the stream's sequences (each probe reads
// one message), then starts a new consumer there.
//
// Each pass takes the stream as it stands when the pass starts: its cases
// are those of the messages published by then (a snapshot), or, following,
// also those published while it is served. A pass may start later than the
// stream's case 0 (at its end, say): case numbers then count from there, for
// rewinds and seeks alike. A stream that holds fewer cases than it did (a
// server lost acknowledged messages) is a break, never a shorter pass. Every message is checked: its
// sequence follows the one before, its first case follows the cases before,
// its variable list is ours. When one fails, or the server does not answer
// within the wait, the pass ends after the last whole case before it, and
// the break is reported through `onProblem`; a later pass reads the stream
// afresh (a server that came back serves it again).
//
// Render is called by one server thread; the follow thread only updates the
// case count.
#include <functional>
#include <memory>
#include <string>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/JetStreamSecurity.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace feed {

struct JetStreamReadOptions {
  // Keep serving messages published after the pass started.
  bool follow = false;
  // How long any answer from the server may take before it counts as gone.
  int waitMs = 2000;
  // Where case 0 of every pass stands in the stream: its case `startCase`,
  // or with `startFromEnd`, `startCase` cases before its end as it stands
  // when the source is made (0: only the cases published after that).
  std::int64_t startCase = 0;
  bool startFromEnd = false;
  jetstream::NatsSecurity security;
  // Called with a sentence for each break found; may be empty.
  std::function<void(const std::string&)> onProblem;
};

class DRAV_FEED_API JetStreamCases : public CaseSource {
 public:
  // Connects and reads the stream's shape. Throws InputError when the
  // stream's variable list is not `list`, FeederError when the server or the
  // stream cannot be reached. Records go out in `order`.
  JetStreamCases(const std::string& url, const VariableList& list, ByteOrder order,
                 JetStreamReadOptions options);
  ~JetStreamCases() override;
  JetStreamCases(const JetStreamCases&) = delete;
  JetStreamCases& operator=(const JetStreamCases&) = delete;

  std::int64_t CaseCount() const override;
  bool MoreMayCome() const override;
  bool Broken() const override;
  int ChangeFd() const override;
  void TakeChange() override;
  std::size_t RecordBytes() const override;
  void Render(std::int64_t first, std::int64_t count, char* out) override;
  std::int64_t RenderSome(std::int64_t first, std::int64_t count, char* out) override;
  void PassStarts() override;
  // The stream's number of the case served as case 0.
  std::int64_t FirstServedCase() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace feed
}  // namespace drav
