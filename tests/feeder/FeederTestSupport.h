#pragma once
// Test helpers for the feeder: a watchdog, a scratch folder, a reader written
// straight from the wire protocol (not the plug-in), and a feeder served on a
// thread or run as a real dravfeed process.
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "feeder/ServeOptions.h"

namespace feedtest {

// Ends the whole test program with a message when a test hangs longer than
// `seconds`: a hang fails instead of blocking the run.
class Watchdog {
 public:
  explicit Watchdog(int seconds = 30);
  ~Watchdog();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool disarmed_ = false;
  std::thread thread_;
};

// A fresh folder under TMPDIR, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

// The message of the InputError that `action` throws, or "accepted".
std::string InputErrorOf(const std::function<void()>& action);

// ---- A reader written from the protocol ----------------------------------
constexpr int kIoTimeoutMs = 15000;

// Blocking open of a FIFO, as a reader does it (waits for the feeder).
int OpenForReading(const std::string& path);
// Writes one control message through the rewind pipe: open, write, close.
void SendThroughRewindPipe(const std::string& path, const std::string& bytes);
// Reads until the end of the data (or `maxBytes`); fails the test on a
// timeout.
std::string ReadToEnd(int fd, std::size_t maxBytes = SIZE_MAX);
// Reads exactly `bytes` bytes (fewer only at the end of the data).
std::string ReadExactly(int fd, std::size_t bytes);
int ConnectLoopback(int port);
void SendAll(int fd, const std::string& bytes);
std::string SeekMessage(std::int64_t caseNumber);
// The doubles of a record, in this machine's order (or reversed).
double NumberAt(const std::string& records, std::size_t recordBytes, std::size_t record,
                std::size_t byteOffset, bool reversed = false);

// ---- A feeder to talk to ----------------------------------------------------
// Runs a server's Serve() on a thread. The destructor raises the cancel flag
// (which the server's options must point to) and joins.
class ServingThread {
 public:
  ServingThread(std::function<drav::feed::ServeStats()> serve, volatile std::sig_atomic_t* cancel);
  ~ServingThread();
  // Waits for Serve to return by itself (the watchdog guards the wait).
  drav::feed::ServeStats Join();
  // A server's exception, if Serve threw one; empty otherwise.
  const std::string& Failure() const { return failure_; }

 private:
  volatile std::sig_atomic_t* cancel_;
  drav::feed::ServeStats stats_;
  std::string failure_;
  std::thread thread_;
};

// The dravfeed program as a child process; its standard output and error are
// captured together.
class FeedProcess {
 public:
  // With `keepInputOpen`, standard input stays open after `stdinText` for
  // WriteInput, as a live producer's would, until CloseInput.
  explicit FeedProcess(const std::vector<std::string>& arguments, const std::string& stdinText = "",
                       bool keepInputOpen = false);
  // Another program (looked up on PATH), run the same way.
  struct Program {
    std::string path;
  };
  FeedProcess(const Program& program, const std::vector<std::string>& arguments,
              const std::string& stdinText = "", bool keepInputOpen = false);
  ~FeedProcess();
  // Reads standard error until a line holds `text`; returns that line.
  std::string WaitForLine(const std::string& text);
  // The port from "listening on port N".
  int Port();
  // Waits for the exit; returns the exit status (128 + signal when killed).
  int Wait();
  void Signal(int signal);
  void WriteInput(const std::string& text);
  void CloseInput();
  pid_t Pid() const { return pid_; }
  const std::string& Stderr() const { return stderr_; }
  static std::string Binary();

 private:
  pid_t pid_ = -1;
  int stderrFd_ = -1;
  int stdinFd_ = -1;
  std::string stderr_;
  int status_ = -1;
};

// Runs dravfeed to the end and returns its exit status; `output` gets what it
// printed.
int RunFeed(const std::vector<std::string>& arguments, std::string& output,
            const std::string& stdinText = "");

}  // namespace feedtest
