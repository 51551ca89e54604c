#include "host/DravDataSource.h"

DRAV_DataSource::DRAV_DataSource(const DRAV_DataSource* parent) : parent_(parent) {}

DRAV_DataSource::~DRAV_DataSource() = default;

// A plain source has no split variables, is never pre-loaded and knows its
// parent only as a pointer: the harmless answers a host asks first.
unsigned int DRAV_DataSource::GetNSplitVars() const { return 0; }
int DRAV_DataSource::GetSplitVarIndex(unsigned int) const { return -1; }
int DRAV_DataSource::GetSplitVarID(unsigned int) const { return -1; }
bool DRAV_DataSource::GetSplitqSeparate() const { return false; }
DRAV_InputCaseIterator* DRAV_DataSource::MakeIterator(OBS*) const { return nullptr; }
int DRAV_DataSource::GetObsAreaSize() const { return layout_.SlotCount(); }
long long DRAV_DataSource::RowCount() const { return -1; }
bool DRAV_DataSource::IsLoaded() const { return false; }
int DRAV_DataSource::NParents() const { return parent_ != nullptr ? 1 : 0; }

void DRAV_DataSource::SetFileSpec(const char* spec) { fileSpec_ = spec != nullptr ? spec : ""; }

DRAV_Variable* DRAV_DataSource::MakeVariable(int stringWidth, unsigned int* index) {
  const int width = stringWidth > 0 ? stringWidth : 0;
  auto variable = std::make_unique<DRAV_Variable>(width > 0 ? kFmtA : kFmtF);
  if (width > 0) variable->SetFormat(kFmtA, width, 0);
  layout_.Append(width);
  if (index != nullptr) *index = static_cast<unsigned int>(columns_.size());
  columns_.push_back(std::move(variable));
  return columns_.back().get();
}

DRAV_Variable* DRAV_DataSource::GetVariable(int column) const {
  if (column < 0 || column >= ColumnCount()) return nullptr;
  return columns_[static_cast<std::size_t>(column)].get();
}
