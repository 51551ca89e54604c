// The JetStream entry points of a library built without the NATS C client
// (libnats-dev): declared and exported all the same, so every build has the
// one API and ABI, and each fails with a FeederError that says why.
#include <string>

#include "dravfeed/FeederError.h"
#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamCases.h"
#include "dravfeed/JetStreamPublisher.h"

namespace drav {
namespace feed {
namespace {

[[noreturn]] void Unavailable(const std::string& what) {
  throw FeederError(what + ": this libdravfeed was built without the NATS C client (libnats), "
                    "so it has no JetStream case log");
}

}  // namespace

struct DRAV_FEED_HIDDEN JetStreamCases::State {};

JetStreamCases::JetStreamCases(const std::string&, const VariableList&, ByteOrder, JetStreamReadOptions) {
  Unavailable("cannot read a JetStream stream");
}
// A JetStreamCases is never made here, so none of these is ever called.
JetStreamCases::~JetStreamCases() = default;
std::int64_t JetStreamCases::CaseCount() const { return 0; }
bool JetStreamCases::MoreMayCome() const { return false; }
bool JetStreamCases::Broken() const { return true; }
int JetStreamCases::ChangeFd() const { return -1; }
void JetStreamCases::TakeChange() {}
std::size_t JetStreamCases::RecordBytes() const { return 0; }
void JetStreamCases::Render(std::int64_t, std::int64_t, char*) {}
std::int64_t JetStreamCases::RenderSome(std::int64_t, std::int64_t, char*) { return 0; }
void JetStreamCases::PassStarts() {}
std::int64_t JetStreamCases::FirstServedCase() const { return 0; }

PublishResult PublishCases(const std::string&, CaseSource&, const VariableList&, ByteOrder,
                           const PublishOptions&) {
  Unavailable("cannot publish to a JetStream stream");
}

namespace jetstream {

StreamReport ReadStreamReport(const std::string&, const NatsSecurity&, int) {
  Unavailable("cannot ask a JetStream stream");
}

}  // namespace jetstream
}  // namespace feed
}  // namespace drav
