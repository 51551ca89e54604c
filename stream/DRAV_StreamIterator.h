#pragma once
// DRAV_StreamIterator: one pass over a DRAV_StreamDataSrc. Next reads one
// record straight into the case buffer; the iterator speaks the control
// protocol (RWND, SEEK, STOP; see docs/PROTOCOL.md) with the feeder. The
// source is not owned and must outlive the iterator. A descriptor the
// iterator opens itself (after a rewind or a seek) is owned by it.
#include <vector>

#include "host/DravCaseIterator.h"
#include "host/DravExport.h"

class DRAV_StreamDataSrc;

class DRAV_EXPORT DRAV_StreamIterator : public DRAV_InputCaseIterator {
 public:
  DRAV_StreamIterator(const DRAV_StreamDataSrc& source, OBS* obs);
  ~DRAV_StreamIterator() override;

  int IsSeekOK() override;
  int Seek(long long caseNumber) override;
  long long Tell() const override;
  int Next() override;
  void Commit() override;

  bool SeekBegin();
  bool SeekCase(long long caseNumber);
  // Sends the first 4 bytes of `text`.
  bool SendMessage(const char* text);
  bool SendSeekMessage(long long caseNumber);
  bool ConvertEndianBytes();
  static void SwapBytes(char* bytes, int count);

 private:
  // Reads one record of `length` bytes into `buffer`; false at the end of
  // the data or on a failure.
  bool ReadRecord(char* buffer, unsigned long length);
  bool ReadPipeRecord(char* buffer, unsigned long length);
  // Reopens the data pipe for this iterator; true when a descriptor came.
  bool ReopenDataPipe();
  void CloseOwnDescriptor();
  // Opens the rewind pipe (waiting a little for its reader), writes the
  // 4-byte word and, when given, the 8-byte case number, and closes it.
  bool SendThroughRewindPipe(const char* word, const char* caseNumber);
  bool ReconnectSocket();
  // Byte offsets of the numeric values in a case, worked out once per
  // iterator: the dictionary is fixed before any iterator exists.
  const std::vector<unsigned int>& NumericOffsets();

  long long position;
  long long seekTarget;
  const DRAV_StreamDataSrc* source;
  int readFd;
  // readFd was opened by this iterator (not borrowed from the source).
  bool ownsReadFd;
  std::vector<unsigned int> numericOffsets;
  bool numericOffsetsKnown;
};
