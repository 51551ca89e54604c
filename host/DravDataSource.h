#pragma once
// Base class of every data source: a file spec and a dictionary of columns.
#include <memory>
#include <string>
#include <vector>

#include "host/DravVariable.h"
#include "base/WireFormat.h"

class OBS;
class DRAV_InputCaseIterator;

class DRAV_DataSource {
 public:
  // `parent` is the source this one derives from; null for none. Not owned.
  explicit DRAV_DataSource(const DRAV_DataSource* parent);
  virtual ~DRAV_DataSource();
  DRAV_DataSource(const DRAV_DataSource&) = delete;
  DRAV_DataSource& operator=(const DRAV_DataSource&) = delete;

  // Virtual operations, in this slot order.
  virtual unsigned int GetNSplitVars() const;
  virtual int GetSplitVarIndex(unsigned int split) const;
  virtual int GetSplitVarID(unsigned int split) const;
  virtual bool GetSplitqSeparate() const;
  // A new iterator over this source, bound to `obs`; the caller owns it and
  // this source must outlive it. The base has no data and returns null.
  virtual DRAV_InputCaseIterator* MakeIterator(OBS* obs) const;
  // Size of one case in 8-byte slots.
  virtual int GetObsAreaSize() const;
  // Number of cases, or -1 when not yet known.
  virtual long long RowCount() const;
  virtual bool IsLoaded() const;
  virtual int NParents() const;

  // Keeps its own copy of `spec` (null is taken as empty).
  void SetFileSpec(const char* spec);
  const char* GetFileSpec() const { return fileSpec_.c_str(); }

  // Makes the next column. `stringWidth` is the width of a string variable,
  // 0 for a numeric one. The source owns the variable. `index` (optional)
  // receives the new column's index.
  DRAV_Variable* MakeVariable(int stringWidth, unsigned int* index);
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // The variable of column `column` (0-based); null when out of range.
  DRAV_Variable* GetVariable(int column) const;
  // The case layout of the columns made so far.
  const drav::wire::CaseLayout& Layout() const { return layout_; }

 private:
  const DRAV_DataSource* parent_;
  std::string fileSpec_;
  std::vector<std::unique_ptr<DRAV_Variable>> columns_;
  drav::wire::CaseLayout layout_;
};
