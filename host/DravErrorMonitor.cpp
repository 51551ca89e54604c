#include "host/DravErrorMonitor.h"

DravErrorMonitor::DravErrorMonitor(Callback callback) : callback_(callback) {}

DravErrorMonitor::~DravErrorMonitor() { callback_ = nullptr; }

void DravErrorMonitor::Report(ErrorText record) {
  if (callback_ != nullptr) callback_(record.Text().c_str(), static_cast<int>(record.Severity()));
}
