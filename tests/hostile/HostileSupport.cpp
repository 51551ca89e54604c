#include "tests/hostile/HostileSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hostile {
namespace {

constexpr int kPollMs = 10;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void SnapshotInto(const std::string& root, const std::string& relative,
                  std::map<std::string, FileState>& out) {
  const std::string path = relative.empty() ? root : root + "/" + relative;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = relative.empty() ? name : relative + "/" + name;
    const std::string full = root + "/" + child;
    struct stat info {};
    if (lstat(full.c_str(), &info) != 0) continue;
    FileState state;
    state.type = info.st_mode & S_IFMT;
    state.device = info.st_dev;
    state.inode = info.st_ino;
    if (S_ISREG(info.st_mode)) state.content = ReadWhole(full);
    if (S_ISLNK(info.st_mode)) {
      char target[4096];
      ssize_t length = readlink(full.c_str(), target, sizeof target);
      if (length > 0) state.content.assign(target, static_cast<std::size_t>(length));
    }
    out[child] = state;
    if (S_ISDIR(info.st_mode)) SnapshotInto(root, child, out);
  }
  closedir(dir);
}

void RemoveTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

}  // namespace

void PrintTo(const FileState& state, std::ostream* out) {
  const char* type = state.type == S_IFREG    ? "regular"
                     : state.type == S_IFIFO  ? "fifo"
                     : state.type == S_IFLNK  ? "link"
                     : state.type == S_IFDIR  ? "directory"
                                              : "other";
  *out << type << " inode " << state.inode;
  if (state.type == S_IFREG) *out << " (" << state.content.size() << " bytes)";
  if (state.type == S_IFLNK) *out << " -> " << state.content;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/drav-hostile-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() { RemoveTree(path_); }

std::map<std::string, FileState> TempDir::Snapshot() const {
  std::map<std::string, FileState> out;
  SnapshotInto(path_, "", out);
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeFifo(const std::string& path) {
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path);
}

FifoWriter::FifoWriter(std::string path, std::string bytes)
    : path_(std::move(path)), bytes_(std::move(bytes)) {
  thread_ = std::thread([this] { Run(); });
}

FifoWriter::~FifoWriter() {
  Stop();
  thread_.join();
}

void FifoWriter::Stop() { stop_ = true; }

void FifoWriter::Run() {
  // A non-blocking open for writing fails (ENXIO) until a reader has the FIFO
  // open, so the thread can keep looking at the stop flag.
  int fd = -1;
  while (!stop_) {
    fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) break;
    poll(nullptr, 0, kPollMs);
  }
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < bytes_.size() && !stop_) {
    ssize_t n = write(fd, bytes_.data() + done, bytes_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      break;
    } else {
      poll(nullptr, 0, kPollMs);
    }
  }
  delivered_ = done == bytes_.size();
  close(fd);
}

FifoReader::FifoReader(std::string path) : path_(std::move(path)) {
  thread_ = std::thread([this] { Run(); });
  // The reader must hold the FIFO before the test goes on, or a writer's
  // blocking open would wait for it.
  while (!ready_) poll(nullptr, 0, 1);
}

FifoReader::~FifoReader() {
  Stop();
  thread_.join();
}

void FifoReader::Stop() { stop_ = true; }

std::string FifoReader::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void FifoReader::Run() {
  // Opening for reading without blocking succeeds at once on a FIFO.
  int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ready_ = true;
  if (fd < 0) return;
  char buffer[256];
  while (!stop_) {
    pollfd wait{fd, POLLIN, 0};
    poll(&wait, 1, kPollMs);
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      // No writer now (poll reports the hang-up at once): wait a little for
      // the next one instead of spinning.
      poll(nullptr, 0, kPollMs);
    }
  }
  close(fd);
}

}  // namespace hostile
