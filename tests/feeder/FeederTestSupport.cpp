#include "tests/feeder/FeederTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "feeder/FeederError.h"
#include "host/WireFormat.h"

namespace feedtest {
namespace {

// Waits until `fd` is ready for `events`; throws on a timeout so the test
// fails instead of hanging.
void AwaitReady(int fd, short events) {
  pollfd p{fd, events, 0};
  int ready;
  do {
    ready = poll(&p, 1, kIoTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1) throw std::runtime_error("timed out waiting on a descriptor");
}

}  // namespace

Watchdog::Watchdog(int seconds)
    : thread_([this, seconds] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return disarmed_; })) {
          const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
          std::fprintf(stderr, "watchdog: %s hung for %d s\n", test ? test->name() : "a test",
                       seconds);
          std::_Exit(124);
        }
      }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    disarmed_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/feedtest.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  DIR* dir = opendir(path_.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

TempDir::~TempDir() {
  for (const std::string& name : Entries()) unlink(Path(name).c_str());
  rmdir(path_.c_str());
}

std::string InputErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const drav::feed::InputError& error) {
    return error.what();
  }
  return "accepted";
}

int OpenForReading(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

void SendThroughRewindPipe(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("short write to the rewind pipe");
  close(fd);
}

std::string ReadToEnd(int fd, std::size_t maxBytes) {
  std::string data;
  char buffer[65536];
  while (data.size() < maxBytes) {
    AwaitReady(fd, POLLIN);
    ssize_t n = read(fd, buffer, std::min(sizeof buffer, maxBytes - data.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

std::string ReadExactly(int fd, std::size_t bytes) { return ReadToEnd(fd, bytes); }

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error(std::string("cannot connect: ") + std::strerror(errno));
  }
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("short send");
}

std::string SeekMessage(std::int64_t caseNumber) {
  std::string message(drav::wire::kSeek, drav::wire::kControlWordBytes);
  message.append(reinterpret_cast<const char*>(&caseNumber), sizeof caseNumber);
  return message;
}

double NumberAt(const std::string& records, std::size_t recordBytes, std::size_t record,
                std::size_t byteOffset, bool reversed) {
  char bytes[8];
  std::memcpy(bytes, records.data() + record * recordBytes + byteOffset, 8);
  if (reversed) std::reverse(bytes, bytes + 8);
  double value;
  std::memcpy(&value, bytes, 8);
  return value;
}

ServingThread::ServingThread(std::function<drav::feed::ServeStats()> serve,
                             volatile std::sig_atomic_t* cancel)
    : cancel_(cancel), thread_([this, serve] {
        try {
          stats_ = serve();
        } catch (const std::exception& error) {
          failure_ = error.what();
        }
      }) {}

ServingThread::~ServingThread() {
  *cancel_ = 1;
  if (thread_.joinable()) thread_.join();
}

drav::feed::ServeStats ServingThread::Join() {
  if (thread_.joinable()) thread_.join();
  return stats_;
}

std::string FeedProcess::Binary() { return std::string(DRAV_BINARY_DIR) + "/bin/dravfeed"; }

FeedProcess::FeedProcess(const std::vector<std::string>& arguments, const std::string& stdinText,
                         bool keepInputOpen)
    : FeedProcess(Program{Binary()}, arguments, stdinText, keepInputOpen) {}

FeedProcess::FeedProcess(const Program& program, const std::vector<std::string>& arguments,
                         const std::string& stdinText, bool keepInputOpen) {
  int errPipe[2], inPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::vector<std::string> argv = {program.path};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> raw;
  for (std::string& argument : argv) raw.push_back(&argument[0]);
  raw.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(errPipe[1], 1);
    dup2(errPipe[1], 2);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  close(errPipe[1]);
  close(inPipe[0]);
  stderrFd_ = errPipe[0];
  // Small inputs only: the pipe holds them without blocking.
  stdinFd_ = inPipe[1];
  if (!stdinText.empty()) WriteInput(stdinText);
  if (!keepInputOpen) CloseInput();
}

void FeedProcess::WriteInput(const std::string& text) {
  // A dravfeed that has died must fail the test, not kill it with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  (void)!write(stdinFd_, text.data(), text.size());
}

void FeedProcess::CloseInput() {
  if (stdinFd_ >= 0) close(stdinFd_);
  stdinFd_ = -1;
}

FeedProcess::~FeedProcess() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stderrFd_ >= 0) close(stderrFd_);
  CloseInput();
}

std::string FeedProcess::WaitForLine(const std::string& text) {
  for (;;) {
    std::size_t found = stderr_.find(text);
    if (found != std::string::npos) {
      std::size_t start = stderr_.rfind('\n', found);
      start = start == std::string::npos ? 0 : start + 1;
      return stderr_.substr(start, stderr_.find('\n', found) - start);
    }
    AwaitReady(stderrFd_, POLLIN);
    char buffer[4096];
    ssize_t n = read(stderrFd_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("the program ended without saying \"" + text + "\": " + stderr_);
    stderr_.append(buffer, static_cast<std::size_t>(n));
  }
}

int FeedProcess::Port() {
  std::string line = WaitForLine("listening on port ");
  return std::atoi(line.c_str() + line.find("port ") + 5);
}

int FeedProcess::Wait() {
  if (status_ >= 0) return status_;
  stderr_ += ReadToEnd(stderrFd_);
  int raw = 0;
  waitpid(pid_, &raw, 0);
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

void FeedProcess::Signal(int signal) { kill(pid_, signal); }

int RunFeed(const std::vector<std::string>& arguments, std::string& output,
            const std::string& stdinText) {
  FeedProcess process(arguments, stdinText);
  int status = process.Wait();
  output = process.Stderr();
  return status;
}

}  // namespace feedtest
