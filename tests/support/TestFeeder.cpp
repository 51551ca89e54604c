#include "tests/support/TestFeeder.h"

#include <cstring>

#include "dravfeed/PipeServer.h"
#include "dravfeed/SocketServer.h"

namespace drav {
namespace test {

namespace {

feed::ServeOptions Options(volatile std::sig_atomic_t* cancel, std::function<void(const std::string&)> onEvent) {
  feed::ServeOptions options;
  options.cancel = cancel;
  options.forever = true;
  options.onEvent = std::move(onEvent);
  return options;
}

}  // namespace

TestFeeder::TestFeeder(const std::vector<std::string>& records)
    : cases_(new feed::MemoryCases(records.empty() ? 8 : records[0].size())) {
  for (const std::string& record : records) std::memcpy(cases_->AddRecord(), record.data(), record.size());
}

TestFeeder::~TestFeeder() {
  cancel_ = 1;
  if (thread_.joinable()) thread_.join();
}

template <typename Server>
void TestFeeder::Start(std::shared_ptr<Server> server) {
  thread_ = std::thread([server] {
    try {
      server->Serve();
    } catch (const std::exception&) {
      // The reader's test fails on what it did not get.
    }
  });
}

std::unique_ptr<TestFeeder> TestFeeder::OverPipe(const TempDir& dir, bool withRewindPipe,
                                                 const std::vector<std::string>& records, feed::ByteOrder order) {
  std::unique_ptr<TestFeeder> f(new TestFeeder(records));
  f->streamName_ = dir.File("data.pipe");
  if (withRewindPipe) f->rewindName_ = dir.File("rewind.pipe");
  TestFeeder* self = f.get();
  // Made here, so that the FIFOs stand before the test's reader comes.
  f->Start(std::make_shared<feed::PipeServer>(*f->cases_, order, f->streamName_, f->rewindName_,
                                              Options(&f->cancel_, [self](const std::string& e) { self->Hear(e); })));
  return f;
}

std::unique_ptr<TestFeeder> TestFeeder::OverSocket(const std::vector<std::string>& records, feed::ByteOrder order) {
  std::unique_ptr<TestFeeder> f(new TestFeeder(records));
  TestFeeder* self = f.get();
  auto server = std::make_shared<feed::SocketServer>(*f->cases_, order, 0, "127.0.0.1",
                                                     Options(&f->cancel_, [self](const std::string& e) { self->Hear(e); }));
  f->streamName_ = "inet:127.0.0.1:" + std::to_string(server->Port());
  f->Start(server);
  return f;
}

void TestFeeder::Hear(const std::string& event) {
  if (event != "rewind" && event.rfind("seek to case ", 0) != 0) return;  // not a control message
  std::lock_guard<std::mutex> lock(mutex_);
  heard_ += (heard_.empty() ? "" : "; ") + event;
}

std::string TestFeeder::Heard() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heard_;
}

}  // namespace test
}  // namespace drav
