#pragma once
// Base class of case iterators: one pass over a data source, delivering
// cases into a case buffer bound at construction.
class DRAV_DataSource;
class OBS;
class ErrorMonitor;  // The host's monitor interface; iterators only keep the pointer.

class DRAV_InputCaseIterator {
 public:
  // Neither `source` nor `obs` is owned; both must outlive the iterator.
  // `obs` must hold at least source.GetObsAreaSize() slots.
  DRAV_InputCaseIterator(const DRAV_DataSource& source, OBS* obs);
  virtual ~DRAV_InputCaseIterator();
  DRAV_InputCaseIterator(const DRAV_InputCaseIterator&) = delete;
  DRAV_InputCaseIterator& operator=(const DRAV_InputCaseIterator&) = delete;

  // Virtual operations, in this slot order.
  virtual void SetErrorMonitor(ErrorMonitor* monitor);
  virtual int IsSeekOK();
  virtual int Seek(long long caseNumber);
  virtual long long Tell() const;
  // 1 when a case now stands in the buffer, 0 at the end or on failure.
  virtual int Next();
  virtual void Commit();

  // Address of column `column`'s value in the current case. Column 0 is the
  // start of the whole record of 8 x GetObsAreaSize() bytes. Null for a
  // column the source does not have (column 0 always has an address).
  char* GetObsPointer(unsigned int column) const;

 protected:
  ErrorMonitor* Monitor() const { return monitor_; }

 private:
  const DRAV_DataSource& source_;
  OBS* obs_;
  ErrorMonitor* monitor_ = nullptr;
};
