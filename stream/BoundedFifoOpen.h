#pragma once
// Opening the data pipe for reading without waiting for ever. A plain
// blocking open of a FIFO returns only when some process opens its write
// end; a FIFO left behind by a feeder that was killed never gets one, and
// the host would hang in the open. This open keeps the plain open's meaning
// (it returns the moment a writer comes) but gives up when none has come
// within the allowance. Hidden from the library's export list.
namespace drav {
namespace fifo {

// How long the data pipe may take to appear at its path, and then, counted
// from the moment it is there, to be opened by its writer. Also the bound of
// every re-open after a rewind or a seek.
constexpr int kDataPipeAllowanceMs = 20000;

// The allowance in force: kDataPipeAllowanceMs unless a test shortened it.
int DataPipeAllowanceMs();
// Test seam, for tests that link the plug-in's objects: the allowance for
// the opens that start from now on. 0 or less restores the normal one.
void SetDataPipeAllowanceMsForTesting(int milliseconds);

struct ReaderOpen {
  enum Outcome {
    kOpened,    // `fd` is the open, blocking, close-on-exec descriptor
    kMissing,   // nothing at the path (yet)
    kNoWriter,  // a FIFO that no writer opened within the wait
    kFailed,    // any other failure of the open
  };
  Outcome outcome;
  int fd;  // -1 unless kOpened
};

// Opens `path` read-only. Anything but a FIFO is opened at once, as a plain
// open would. A FIFO is opened by a blocking open on a helper thread that
// blocks every signal; when no writer has come after `waitMs` milliseconds,
// the open is released by opening the same FIFO's write end here. A feeder
// that opens its end while that happens is told apart from our own writer
// and its data are read (kOpened), or its writes fail: nothing it wrote is
// lost without its knowing. When our write open is refused (the FIFO's
// mode), the helper's open is cancelled instead. Either way no thread and no
// descriptor but the result outlive the call. When no thread can be
// created, this is the plain blocking open, without a bound. Throws nothing.
ReaderOpen OpenForReadingWithin(const char* path, int waitMs);

}  // namespace fifo
}  // namespace drav
