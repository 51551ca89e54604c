#include "host/DravCaseIterator.h"

#include "host/DravDataSource.h"
#include "host/OBS.h"

DRAV_InputCaseIterator::DRAV_InputCaseIterator(const DRAV_DataSource& source, OBS* obs)
    : source_(source), obs_(obs) {}

DRAV_InputCaseIterator::~DRAV_InputCaseIterator() = default;

void DRAV_InputCaseIterator::SetErrorMonitor(ErrorMonitor* monitor) { monitor_ = monitor; }

// The base iterates over nothing: it cannot seek and has no cases.
int DRAV_InputCaseIterator::IsSeekOK() { return 0; }
int DRAV_InputCaseIterator::Seek(long long) { return 0; }
long long DRAV_InputCaseIterator::Tell() const { return 0; }
int DRAV_InputCaseIterator::Next() { return 0; }
void DRAV_InputCaseIterator::Commit() {}

char* DRAV_InputCaseIterator::GetObsPointer(unsigned int column) const {
  if (obs_ == nullptr) return nullptr;
  if (column == 0) return obs_->Data();
  const drav::wire::CaseLayout& layout = source_.Layout();
  if (column >= layout.VariableCount()) return nullptr;
  return obs_->Data() + layout.ByteOffset(column);
}
