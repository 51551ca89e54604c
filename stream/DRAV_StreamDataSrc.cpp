#include "stream/DRAV_StreamDataSrc.h"

#include <chrono>
#include <cstdint>

#include "host/DravSleep.h"
#include "host/DravVariable.h"
#include "host/Socket.h"
#include "host/VUString.h"
#include "base/WireFormat.h"
#include "parser/MessageIds.h"
#include "parser/StreamParser.h"
#include "stream/BoundedFifoOpen.h"
#include "stream/DRAV_StreamIterator.h"
#include "stream/FifoFiles.h"

namespace {

// The feeder may create the data pipe a little after the command runs, and
// open its write end a little after that: the pipe gets the data pipe's
// allowance (about 20 seconds) to appear, with a pause between looks at a
// path where nothing is yet, and its writer the whole allowance again from
// the moment it is there.
constexpr int kPipeOpenPauseMs = 50;
// A feeder started after the command gets as long to open its rewind pipe
// as it gets to create its data pipe.
constexpr int kRewindReaderWaitMs = drav::fifo::kDataPipeAllowanceMs;
constexpr unsigned long kSocketOptions = Socket::kKeepAlive | Socket::kNoDelay;

using Clock = std::chrono::steady_clock;

struct Format {
  int type;
  int width;
  int decimals;
};

// The host accepts a narrower set of formats than the command: widths and
// decimals are brought into the host's limits, unknown types become F8.2.
Format NormaliseFormat(Format f) {
  switch (f.type) {
    case kFmtA:
      break;
    case kFmtCOMMA:
    case kFmtF:
    case kFmtDOT:
      if (f.decimals > f.width - 1) f.decimals = f.width - 1;
      break;
    case kFmtDOLLAR:
      if (f.decimals > f.width - 2) f.decimals = f.width - 2;
      break;
    case kFmtDATE:
      f.width = f.width >= 11 ? 11 : 9;
      break;
    case kFmtTIME:
      if (f.width >= 11) f = {f.type, 11, 2};
      else f.width = 5;
      break;
    case kFmtDATETIME:
      if (f.width >= 23) f = {f.type, 23, 2};
      else f.width = 17;
      break;
    case kFmtADATE:
    case kFmtWKYR:
    case kFmtEDATE:
    case kFmtSDATE:
      f.width = f.width >= 10 ? 10 : 8;
      break;
    case kFmtJDATE:
      f.width = f.width >= 7 ? 7 : 5;
      break;
    case kFmtDTIME:
      if (f.width >= 15) f = {f.type, 15, 2};
      else f.width = 9;
      break;
    case kFmtWKDAY:
    case kFmtMONTH:
      f.width = 9;
      break;
    case kFmtMOYR:
    case kFmtQYR:
      f.width = f.width >= 8 ? 8 : 6;
      break;
    default:
      f = {kFmtF, 8, 2};
      break;
  }
  return f;
}

}  // namespace

DRAV_StreamDataSrc::DRAV_StreamDataSrc(const char* name, const char* rewind, bool seekableFlag,
                                       bool socketFlag)
    : DRAV_DataSource(nullptr),
      rowCount(-1),
      obsAreaSize(0),
      seekable(seekableFlag),
      connected(false),
      pipeFd(-1),
      socket(nullptr),
      useSocket(socketFlag),
      swapBytes(false) {
  SetFileSpec(name);
  if (rewind != nullptr) rewindName = rewind;
  // The base destructor runs if an open throws, but ours does not: release
  // what the failed open may have created before passing the error on.
  try {
    if (useSocket) OpenSocketStream();
    else OpenPipeStream();
  } catch (...) {
    delete socket;
    socket = nullptr;
    throw;
  }
}

DRAV_StreamDataSrc::~DRAV_StreamDataSrc() {
  if (useSocket) {
    if (socket != nullptr) socket->Clear();
    delete socket;
    socket = nullptr;
  } else {
    ClosePipeStream();
  }
}

DRAV_InputCaseIterator* DRAV_StreamDataSrc::MakeIterator(OBS* obs) const {
  return new DRAV_StreamIterator(*this, obs);
}

long long DRAV_StreamDataSrc::RowCount() const { return rowCount; }

bool DRAV_StreamDataSrc::OpenSocketStream() {
  if (socket == nullptr) socket = new Socket(kSocketOptions);
  if (socket->Connect(VUString(GetFileSpec())) != 0) throw static_cast<int>(message_id::kSocketNotConnected);
  connected = true;
  if (!IsRemoteEndianMatched()) swapBytes = true;
  return true;
}

bool DRAV_StreamDataSrc::IsRemoteEndianMatched() {
  std::int32_t probe = 0;
  long received = socket->Receive(reinterpret_cast<const char*>(&probe), drav::wire::kProbeBytes);
  return received == static_cast<long>(drav::wire::kProbeBytes) && probe >= drav::wire::kProbeMin &&
         probe <= drav::wire::kProbeMax;
}

bool DRAV_StreamDataSrc::OpenPipeStream() {
  if (!rewindName.empty() && !CheckRewindPipe()) throw static_cast<int>(message_id::kRewindPipeNotOpened);
  connected = ConnectPipeStream();
  if (!connected) throw static_cast<int>(message_id::kPipeNotOpened);
  return true;
}

bool DRAV_StreamDataSrc::CheckRewindPipe() {
  // Only a named pipe qualifies: control messages are never written into
  // a regular file or a device.
  int fd = drav::fifo::OpenFifoForWriting(rewindName.c_str(), kRewindReaderWaitMs);
  if (fd < 0) return false;
  drav::fifo::Close(fd);
  return true;
}

bool DRAV_StreamDataSrc::ConnectPipeStream() {
  using drav::fifo::ReaderOpen;
  const int allowanceMs = drav::fifo::DataPipeAllowanceMs();
  const Clock::time_point appearBy = Clock::now() + std::chrono::milliseconds(allowanceMs);
  for (;;) {
    // Descriptor 0 is a valid descriptor when the host runs with standard
    // input closed; treating it as a failure would leak it.
    const ReaderOpen opened = drav::fifo::OpenForReadingWithin(GetFileSpec(), allowanceMs);
    if (opened.outcome == ReaderOpen::kOpened) {
      pipeFd = opened.fd;
      return true;
    }
    // A FIFO nobody opened for writing has had the whole allowance.
    if (opened.outcome == ReaderOpen::kNoWriter || Clock::now() >= appearBy) return false;
    DRAV_msleep(kPipeOpenPauseMs);
  }
}

void DRAV_StreamDataSrc::ClosePipeStream() const {
  if (connected) {
    // The file goes only while the path still names the FIFO we read: a
    // regular file given as the pipe, or a path the feeder has since
    // replaced, is left alone.
    bool removable = drav::fifo::PathNamesFifoOf(pipeFd, GetFileSpec());
    drav::fifo::Close(pipeFd);
    if (removable) drav::fifo::Remove(GetFileSpec());
  }
  connected = false;
}

bool DRAV_StreamDataSrc::SetDictionary(StreamParser* parser) {
  if (parser == nullptr) throw static_cast<int>(message_id::kNoDictionarySource);
  const int count = parser->GetVarIndex();
  for (int i = 0; i < count; ++i) {
    const DRAV_Variable* parsed = parser->GetVariable(i);
    if (parsed == nullptr) continue;
    DRAV_Variable::FormatType type;
    Format f{};
    parsed->GetFormat(type, f.width, f.decimals);
    f.type = type;
    f = NormaliseFormat(f);
    const auto normalised = static_cast<DRAV_Variable::FormatType>(f.type);
    unsigned int index = 0;
    DRAV_Variable* variable = MakeVariable(f.type == kFmtA ? f.width : 0, &index);
    variable->SetName(parsed->GetName());
    variable->SetFormat(normalised, f.width, f.decimals);
    variable->SetWriteFormat(normalised, f.width, f.decimals);
    if (f.type != kFmtA && variable->GetDisplayWidth() < f.width)
      variable->SetDisplayWidth(static_cast<short>(f.width));
  }
  obsAreaSize = GetObsAreaSize();
  return true;
}
