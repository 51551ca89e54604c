#pragma once
// DRAV_StreamDataSrc: one live stream of cases that a feeder writes into a
// named pipe or sends over TCP. The constructor opens the stream at once and
// throws the message identifier (an int) when it cannot; SetDictionary then
// builds the host dictionary. Once registered, the host owns the source; it
// owns its Socket. Iterators (DRAV_StreamIterator) read and update its state
// directly and must not outlive it.
#include <string>

#include "host/DravDataSource.h"
#include "host/DravExport.h"

class Socket;
class StreamParser;
class DRAV_StreamIterator;

class DRAV_EXPORT DRAV_StreamDataSrc : public DRAV_DataSource {
 public:
  // `name`: the data pipe's path, or "inet:HOST:PORT" when `useSocket`.
  // `rewindName`: the rewind pipe's path (socket streams: any non-empty text
  // allows rewinds); null or empty for none. Throws 2279, 2280 or 2281.
  DRAV_StreamDataSrc(const char* name, const char* rewindName, bool seekable, bool useSocket);
  ~DRAV_StreamDataSrc() override;

  DRAV_InputCaseIterator* MakeIterator(OBS* obs) const override;
  long long RowCount() const override;

  // One host variable per parsed variable, formats normalised for the host.
  // Throws 2270 when `parser` is null.
  bool SetDictionary(StreamParser* parser);

  bool OpenSocketStream();
  bool OpenPipeStream();
  bool CheckRewindPipe();
  bool ConnectPipeStream();
  bool IsRemoteEndianMatched();
  // Closes the data pipe and removes its file (only while it still names the
  // FIFO this source opened). Does nothing when not connected.
  void ClosePipeStream() const;

 private:
  friend class DRAV_StreamIterator;

  mutable long long rowCount;
  int obsAreaSize;
  std::string rewindName;
  bool seekable;
  mutable bool connected;
  int pipeFd;
  Socket* socket;
  bool useSocket;
  bool swapBytes;
};
