#include "dravfeed/LiveCsvInput.h"

#include <functional>
#include <istream>
#include <streambuf>
#include <vector>

#include "dravfeed/CsvCases.h"
#include "dravfeed/FeederError.h"
#include "feeder/records/PosixIo.h"

namespace drav {
namespace feed {
namespace {

constexpr std::size_t kReadBytes = 64 << 10;
constexpr int kStopCheckMs = 100;
constexpr int kFollowPauseMs = 10;

// A stream buffer over a descriptor that calls `beforeWait` each time it has
// used up what it read and must wait for more: the moment to hand on
// whatever is finished.
class WaitingInput : public std::streambuf {
 public:
  WaitingInput(int fd, bool follow, const std::atomic<bool>* stop, std::function<void()> beforeWait)
      : fd_(fd), follow_(follow), stop_(stop), beforeWait_(std::move(beforeWait)), buffer_(kReadBytes) {}

  bool Stopped() const { return stopped_; }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    beforeWait_();
    for (;;) {
      if (stop_ && stop_->load()) {
        stopped_ = true;
        return traits_type::eof();
      }
      pollfd one{fd_, POLLIN, 0};
      posix::Poll(&one, 1, kStopCheckMs);
      if (one.revents == 0) continue;
      posix::Result got = posix::Read(fd_, buffer_.data(), buffer_.size());
      if (got.value > 0) {
        setg(buffer_.data(), buffer_.data(), buffer_.data() + got.value);
        return traits_type::to_int_type(*gptr());
      }
      if (got.ok() && !follow_) return traits_type::eof();
      if (got.ok() || got.error == EAGAIN) {
        posix::Poll(nullptr, 0, kFollowPauseMs);  // a followed file has no more yet
        continue;
      }
      throw SystemError("cannot read the CSV input", got.error);
    }
  }

 private:
  int fd_;
  bool follow_;
  const std::atomic<bool>* stop_;
  std::function<void()> beforeWait_;
  std::vector<char> buffer_;
  bool stopped_ = false;
};

LiveInputResult ReadAll(CsvCaseReader& reader, const WaitingInput& input, CaseLog& log) {
  LiveInputResult result;
  std::vector<char> record(log.RecordBytes());
  while (reader.Next(record.data())) {
    if (input.Stopped()) break;  // what the stop cut short is no case
    log.Append(record.data());
    ++result.cases;
  }
  result.stopped = input.Stopped();
  return result;
}

}  // namespace

LiveInputResult ReadLiveCsv(int fd, const RecordBuilder& builder, CaseLog& log,
                            const LiveInputOptions& options) {
  WaitingInput input(fd, options.follow, options.stop, [&log] { log.Publish(); });
  std::istream in(&input);
  CsvCaseReader reader(in, builder, options.csv);
  LiveInputResult result;
  try {
    result = ReadAll(reader, input, log);
  } catch (...) {
    EndBroken(log);
    throw;
  }
  log.EndInput();
  return result;
}

}  // namespace feed
}  // namespace drav
