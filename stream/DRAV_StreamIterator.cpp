#include "stream/DRAV_StreamIterator.h"

#include <cstdint>
#include <cstring>

#include "host/DravVariable.h"
#include "host/Socket.h"
#include "host/VUString.h"
#include "base/WireFormat.h"
#include "stream/BoundedFifoOpen.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "stream/FifoFiles.h"

namespace wire = drav::wire;

namespace {
// A running feeder keeps its rewind pipe open, or reopens it at once after a
// message; a pipe nobody reads for this long means the feeder has gone, and
// the pass ends instead of waiting for ever.
constexpr int kControlReaderWaitMs = 2000;
}  // namespace

DRAV_StreamIterator::DRAV_StreamIterator(const DRAV_StreamDataSrc& src, OBS* obs)
    : DRAV_InputCaseIterator(src, obs),
      position(0),
      seekTarget(0),
      source(&src),
      // A later pass over a closed pipe stream must not borrow the number of
      // a descriptor an earlier pass closed: it may name another file now.
      readFd(!src.useSocket && src.connected ? src.pipeFd : -1),
      ownsReadFd(false),
      numericOffsetsKnown(false) {}

DRAV_StreamIterator::~DRAV_StreamIterator() {
  if (source->useSocket) {
    if (source->socket != nullptr) SendMessage(wire::kStop);
  } else {
    source->ClosePipeStream();
  }
  CloseOwnDescriptor();
  source->connected = false;
}

int DRAV_StreamIterator::IsSeekOK() { return source->seekable ? 1 : 0; }

int DRAV_StreamIterator::Seek(long long caseNumber) {
  if (!source->seekable) return 0;
  seekTarget = caseNumber;
  return 1;
}

long long DRAV_StreamIterator::Tell() const { return position; }

void DRAV_StreamIterator::Commit() {}

int DRAV_StreamIterator::Next() {
  const unsigned long length = static_cast<unsigned long>(source->obsAreaSize) * wire::kSlotBytes;
  // A dictionary without variables has records of no bytes: reading them
  // would deliver cases without end, so such a stream is empty.
  if (length == 0) {
    source->rowCount = position;
    return 0;
  }
  if (position == 0 && seekTarget == 0 && !source->rewindName.empty() && !source->connected) {
    if (!SeekBegin()) return 0;
  } else if (position != seekTarget) {
    if (!SeekCase(seekTarget)) return 0;
    position = seekTarget;
  }
  if (!ReadRecord(GetObsPointer(0), length)) {
    source->rowCount = position;
    return 0;
  }
  ++position;
  seekTarget = position;
  return 1;
}

bool DRAV_StreamIterator::ReadRecord(char* buffer, unsigned long length) {
  if (buffer == nullptr) return false;
  if (!source->useSocket) return ReadPipeRecord(buffer, length);
  if (source->socket == nullptr) return false;
  if (source->socket->Receive(buffer, length) != static_cast<long>(length)) return false;
  if (source->swapBytes) ConvertEndianBytes();
  return true;
}

bool DRAV_StreamIterator::ReadPipeRecord(char* buffer, unsigned long length) {
  // A borrowed descriptor is only good while the source keeps it open: an
  // iterator that outlived another one's pass must not read a closed number.
  if (readFd < 0 || (!ownsReadFd && !source->connected)) return false;
  unsigned long have = 0;
  while (have < length) {
    long n = drav::fifo::ReadSome(readFd, buffer + have, length - have);
    if (n <= 0) return false;
    have += static_cast<unsigned long>(n);
  }
  return true;
}

bool DRAV_StreamIterator::ReconnectSocket() {
  source->socket->Clear();
  return source->socket->Connect(VUString(source->GetFileSpec())) == 0;
}

bool DRAV_StreamIterator::SeekBegin() {
  if (source->useSocket) {
    if (source->socket == nullptr) return false;
    bool ok = ReconnectSocket();
    SendMessage(wire::kRewind);
    return ok;
  }
  // Without a feeder to answer, reopening the data pipe could wait for ever
  // for a writer. Either way the pass goes on to its first read, so a data
  // pipe that was not reopened ends the stream there, with no case, like
  // any other end of the data.
  if (SendMessage(wire::kRewind)) ReopenDataPipe();
  else CloseOwnDescriptor();
  return true;
}

bool DRAV_StreamIterator::SeekCase(long long caseNumber) {
  if (source->useSocket) {
    if (source->socket == nullptr) return false;
    bool ok = ReconnectSocket();
    SendSeekMessage(caseNumber);
    return ok;
  }
  if (!SendSeekMessage(caseNumber)) return false;
  return ReopenDataPipe();
}

bool DRAV_StreamIterator::ReopenDataPipe() {
  CloseOwnDescriptor();
  // Once, without retries, but bounded: a feeder that took the message and
  // then went away must not hold the pass in the open for ever. A data pipe
  // no writer opened in time counts as one that could not be reopened.
  const drav::fifo::ReaderOpen opened =
      drav::fifo::OpenForReadingWithin(source->GetFileSpec(), drav::fifo::DataPipeAllowanceMs());
  readFd = opened.fd;
  ownsReadFd = readFd >= 0;
  return readFd >= 0;
}

void DRAV_StreamIterator::CloseOwnDescriptor() {
  if (ownsReadFd) drav::fifo::Close(readFd);
  ownsReadFd = false;
  readFd = -1;
}

bool DRAV_StreamIterator::SendMessage(const char* text) {
  if (source->useSocket) {
    if (source->socket == nullptr) return false;
    return source->socket->Send(text, wire::kControlWordBytes) ==
           static_cast<int>(wire::kControlWordBytes);
  }
  return SendThroughRewindPipe(text, nullptr);
}

bool DRAV_StreamIterator::SendSeekMessage(long long caseNumber) {
  // The case number travels in this host's byte order, never reversed.
  char number[wire::kSeekCaseBytes];
  std::memcpy(number, &caseNumber, sizeof number);
  if (source->useSocket) {
    if (source->socket == nullptr) return false;
    bool word = source->socket->Send(wire::kSeek, wire::kControlWordBytes) ==
                static_cast<int>(wire::kControlWordBytes);
    bool value = source->socket->Send(number, sizeof number) == static_cast<int>(sizeof number);
    return word && value;
  }
  return SendThroughRewindPipe(wire::kSeek, number);
}

bool DRAV_StreamIterator::SendThroughRewindPipe(const char* word, const char* caseNumber) {
  // One open per message; a case number follows its word as a second write
  // within the same open.
  int fd = drav::fifo::OpenFifoForWriting(source->rewindName.c_str(), kControlReaderWaitMs);
  if (fd < 0) return false;
  bool ok = drav::fifo::WriteAll(fd, word, wire::kControlWordBytes) &&
            (caseNumber == nullptr || drav::fifo::WriteAll(fd, caseNumber, wire::kSeekCaseBytes));
  drav::fifo::Close(fd);
  return ok;
}

const std::vector<unsigned int>& DRAV_StreamIterator::NumericOffsets() {
  if (numericOffsetsKnown) return numericOffsets;
  const char* start = GetObsPointer(0);
  const int columns = source->ColumnCount();
  for (int i = 0; i < columns; ++i) {
    const DRAV_Variable* variable = source->GetVariable(i);
    if (variable == nullptr) continue;
    DRAV_Variable::FormatType type;
    int width = 0;
    int decimals = 0;
    variable->GetFormat(type, width, decimals);
    if (type == kFmtA) continue;
    const char* value = GetObsPointer(static_cast<unsigned int>(i));
    if (value != nullptr) numericOffsets.push_back(static_cast<unsigned int>(value - start));
  }
  numericOffsetsKnown = true;
  return numericOffsets;
}

bool DRAV_StreamIterator::ConvertEndianBytes() {
  // Every case has the same layout, so the per-column lookups are done once
  // and each value is reversed as one 8-byte word, in place.
  char* start = GetObsPointer(0);
  static_assert(wire::kSlotBytes == sizeof(std::uint64_t), "a numeric value is one 64-bit word");
  for (unsigned int offset : NumericOffsets()) {
    std::uint64_t word;
    std::memcpy(&word, start + offset, sizeof word);
    word = __builtin_bswap64(word);
    std::memcpy(start + offset, &word, sizeof word);
  }
  return true;
}

void DRAV_StreamIterator::SwapBytes(char* bytes, int count) {
  for (int front = 0, back = count - 1; front < back; ++front, --back) {
    char held = bytes[front];
    bytes[front] = bytes[back];
    bytes[back] = held;
  }
}
