#pragma once
// Helpers of the hostile-path tests: a scratch folder with a
// snapshot of everything in it, and the two ends a feeder holds on its named
// pipes (a writer of records, a reader of control messages), run on threads
// that never block for ever.
#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace hostile {

// What a path is: enough to tell whether anything changed it.
struct FileState {
  mode_t type = 0;  // S_IFREG, S_IFIFO, S_IFLNK, S_IFDIR
  dev_t device = 0;
  ino_t inode = 0;
  std::string content;  // a regular file's bytes, a link's target
  bool operator==(const FileState& other) const {
    return type == other.type && device == other.device && inode == other.inode &&
           content == other.content;
  }
};

// For readable failures: "fifo inode 42", "regular inode 7 (12 bytes)".
void PrintTo(const FileState& state, std::ostream* out);

// A fresh folder under TMPDIR, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  // Every entry below the folder, by its path relative to the folder; links
  // are not followed.
  std::map<std::string, FileState> Snapshot() const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
void MakeFifo(const std::string& path);

// Opens a FIFO for writing as soon as a reader has it open, writes `bytes`
// and closes it. Gives up quietly when Stop is called first (for example
// because the reader never came).
class FifoWriter {
 public:
  FifoWriter(std::string path, std::string bytes);
  ~FifoWriter();  // Stop, then join
  void Stop();
  bool Delivered() const { return delivered_; }

 private:
  void Run();
  std::string path_, bytes_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> delivered_{false};
  std::thread thread_;
};

// Holds a FIFO open for reading, as a feeder holds its rewind pipe, and
// collects whatever is written into it until stopped.
class FifoReader {
 public:
  explicit FifoReader(std::string path);
  ~FifoReader();  // Stop, then join
  void Stop();
  // Everything received so far.
  std::string Received();

 private:
  void Run();
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ready_{false};
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

}  // namespace hostile
