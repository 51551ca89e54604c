#pragma once
// Builds case records: the exact bytes of one case on the wire, in the
// layout of a variable list and the feeder's byte order.
//
// The builder keeps a reference to the list: the list must outlive it.
// Records are caller-owned buffers of list.RecordBytes() bytes.
#include <cstddef>
#include <string_view>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/Export.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace feed {

// How SetText takes text that its variable can only hold by adapting it.
enum class TextFit {
  kAdapt,  // strings cut to their width; dates and times also given as seconds
  // Nothing adapted: a longer string and a date or time written as a number
  // are refused. For lists inferred from a sample of the data, whose later
  // values must fit as the sample did.
  kExact,
};

class DRAV_FEED_API RecordBuilder {
 public:
  RecordBuilder(const VariableList& list, ByteOrder order, TextFit fit = TextFit::kAdapt)
      : list_(list), order_(order), fit_(fit) {}

  // A numeric value (any numeric, date or time variable).
  void SetNumber(char* record, std::size_t column, double value) const;
  void SetMissing(char* record, std::size_t column) const;
  // A string value: padded with blanks, or cut to the width at a character
  // boundary (a UTF-8 character is never split).
  void SetString(char* record, std::size_t column, std::string_view text) const;
  // A value written as text, read by the variable's kind: numbers as C
  // decimal numbers, dates and times as ISO 8601 text (or as a number of
  // seconds); empty or blank text is a missing value. Strings are taken as
  // they are. Throws InputError saying what is wrong with the text.
  void SetText(char* record, std::size_t column, std::string_view text) const;

  const VariableList& List() const { return list_; }
  ByteOrder Order() const { return order_; }

 private:
  const VariableList& list_;
  ByteOrder order_;
  TextFit fit_;
};

// Reads a decimal number ("12", "-3.5e2", "+.5"); blanks around it are
// allowed. Throws InputError for anything else, infinities and NaN included.
DRAV_FEED_API double ParseNumber(std::string_view text);

}  // namespace feed
}  // namespace drav
