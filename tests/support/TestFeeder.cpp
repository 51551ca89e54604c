#include "tests/support/TestFeeder.h"

#include <chrono>
#include <cstring>

#include "feeder/PipeServer.h"
#include "feeder/SocketServer.h"

namespace drav {
namespace test {

namespace {

bool IsControlMessage(const std::string& event) {
  return event == "rewind" || event == "stop" || event.rfind("seek to case ", 0) == 0;
}

// A server that fails ends its thread quietly; the reader's test then
// fails on what it did not get.
template <typename Server>
void Serve(Server& server) {
  try {
    server.Serve();
  } catch (const std::exception&) {
  }
}

}  // namespace

TestFeeder::TestFeeder(const std::vector<std::string>& records)
    : cases_(new feed::MemoryCases(records.empty() ? 8 : records[0].size())) {
  for (const std::string& record : records) std::memcpy(cases_->AddRecord(), record.data(), record.size());
}

std::unique_ptr<TestFeeder> TestFeeder::OverPipe(const TempDir& dir, bool withRewindPipe,
                                                 const std::vector<std::string>& records, feed::ByteOrder order) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(records));
  TestFeeder* f = feeder.get();
  f->streamName_ = dir.File("data.pipe");
  if (withRewindPipe) f->rewindName_ = dir.File("rewind.pipe");
  feed::ServeOptions options;
  options.cancel = &f->cancel_;
  options.forever = true;
  options.onEvent = [f](const std::string& text) { f->Event(text); };
  // Made here, so the FIFOs stand before the test's reader comes.
  auto server = std::make_shared<feed::PipeServer>(*f->cases_, order, f->streamName_, f->rewindName_, options);
  f->thread_ = std::thread([server] { Serve(*server); });
  return feeder;
}

std::unique_ptr<TestFeeder> TestFeeder::OverSocket(const std::vector<std::string>& records, feed::ByteOrder order) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(records));
  TestFeeder* f = feeder.get();
  feed::ServeOptions options;
  options.cancel = &f->cancel_;
  options.forever = true;
  options.onEvent = [f](const std::string& text) { f->Event(text); };
  auto server = std::make_shared<feed::SocketServer>(*f->cases_, order, 0, "127.0.0.1", options);
  f->streamName_ = "inet:127.0.0.1:" + std::to_string(server->Port());
  f->thread_ = std::thread([server] { Serve(*server); });
  return feeder;
}

TestFeeder::~TestFeeder() {
  cancel_ = 1;
  if (thread_.joinable()) thread_.join();
}

void TestFeeder::Event(const std::string& text) {
  if (!IsControlMessage(text)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    heard_.push_back(text);
  }
  changed_.notify_all();
}

std::string TestFeeder::Heard() const { return AwaitHeard(0); }

std::string TestFeeder::AwaitHeard(std::size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(10), [&] { return heard_.size() >= count; });
  std::string out;
  for (const std::string& text : heard_) out += (out.empty() ? "" : "; ") + text;
  return out;
}

}  // namespace test
}  // namespace drav
