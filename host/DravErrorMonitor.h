#pragma once
// Delivers message records to the host program's callback.
#include "host/ErrorText.h"

class DravErrorMonitor {
 public:
  using Callback = void (*)(const char* text, int severity);

  // `callback` may be null: reports are then dropped.
  explicit DravErrorMonitor(Callback callback);
  ~DravErrorMonitor();
  DravErrorMonitor(const DravErrorMonitor&) = delete;
  DravErrorMonitor& operator=(const DravErrorMonitor&) = delete;

  // Calls the callback with the record's text and severity, in report order.
  void Report(ErrorText record);

 private:
  Callback callback_;
};
