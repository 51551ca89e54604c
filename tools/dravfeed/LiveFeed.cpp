#include "tools/dravfeed/LiveFeed.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dravfeed/FeederError.h"
#include "dravfeed/LiveCsvInput.h"
#include "dravfeed/PacedCases.h"

namespace dravfeed {

LiveFeed::LiveFeed(const FeedOptions& options, const drav::feed::RecordBuilder& builder,
                   drav::feed::CaseLog& log, Say say)
    : options_(options), builder_(builder), log_(log), say_(std::move(say)) {
  if (options_.generate) {
    generated_ = std::make_unique<drav::feed::GeneratedCases>(builder_, options_.generateCount);
    thread_ = std::thread(&LiveFeed::Run, this, &LiveFeed::Generate);
    return;
  }
  if (options_.csvPath == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = open(options_.csvPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw drav::feed::InputError("cannot open " + options_.csvPath + ": " + std::strerror(errno));
  }
  thread_ = std::thread(&LiveFeed::Run, this, &LiveFeed::ReadCsv);
}

void LiveFeed::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (fd_ > STDIN_FILENO) close(fd_);
  fd_ = -1;
}

void LiveFeed::Run(void (LiveFeed::*body)()) {
  try {
    (this->*body)();
  } catch (const drav::feed::InputError& error) {
    refused_.store(true);
    say_(options_.csvPath == "-" ? error.what() : options_.csvPath + ", " + error.what());
  } catch (const std::exception& error) {
    failed_.store(true);
    say_(error.what());
  }
}

void LiveFeed::ReadCsv() {
  drav::feed::LiveInputOptions input;
  input.csv = options_.csv;
  input.follow = options_.follow;
  input.stop = &stop_;
  drav::feed::LiveInputResult result = drav::feed::ReadLiveCsv(fd_, builder_, log_, input);
  if (options_.verbose && !result.stopped)
    say_("input ended after " + std::to_string(result.cases) + " cases");
}

void LiveFeed::Generate() { drav::feed::FeedPaced(*generated_, options_.rate, log_, &stop_); }

}  // namespace dravfeed
