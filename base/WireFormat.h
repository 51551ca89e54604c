// A classic include guard, not #pragma once: the feeder library installs a
// copy of this file as dravfeed/WireFormat.h, and both may meet in one unit.
#ifndef DRAV_BASE_WIREFORMAT_H_
#define DRAV_BASE_WIREFORMAT_H_
// The stream's bytes, written once: the case-record layout and the wire
// constants of the feeder protocol. docs/PROTOCOL.md describes the same
// bytes in prose. The host's case buffer, the plug-in, the feeder library and
// the tests all use this header; nothing else computes a layout.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace drav {
namespace wire {

// ---- Case record ---------------------------------------------------------
// A case is a run of 8-byte slots in the order of the variables. A numeric
// value takes one slot: an IEEE-754 double in the sender's byte order (NaN is
// a missing value; dates and times are seconds since 1970-01-01T00:00:00).
// A string of width w takes ceil(w / 8) slots: its bytes as sent, padded
// with blanks. One record on the wire is exactly this image.
constexpr std::size_t kSlotBytes = 8;
constexpr char kStringPad = ' ';

// Slots taken by one variable: `stringWidth` is 0 for a numeric variable.
constexpr int SlotsFor(int stringWidth) {
  return stringWidth <= 0 ? 1 : (stringWidth + static_cast<int>(kSlotBytes) - 1) /
                                    static_cast<int>(kSlotBytes);
}

// Where each variable starts in a case, in slots, and the case's size.
class CaseLayout {
 public:
  // Appends a variable (stringWidth 0 for numeric); returns its first slot.
  int Append(int stringWidth) {
    int first = slots_;
    offsets_.push_back(first);
    widths_.push_back(stringWidth);
    slots_ += SlotsFor(stringWidth);
    return first;
  }
  int SlotCount() const { return slots_; }
  std::size_t RecordBytes() const { return static_cast<std::size_t>(slots_) * kSlotBytes; }
  std::size_t VariableCount() const { return offsets_.size(); }
  int FirstSlot(std::size_t column) const { return offsets_[column]; }
  std::size_t ByteOffset(std::size_t column) const { return offsets_[column] * kSlotBytes; }
  int StringWidth(std::size_t column) const { return widths_[column]; }
  bool IsString(std::size_t column) const { return widths_[column] > 0; }

 private:
  std::vector<int> offsets_;
  std::vector<int> widths_;
  int slots_ = 0;
};

// ---- Byte-order probe ----------------------------------------------------
// Socket streams only: the first 4 bytes of the first connection, a signed
// 32-bit integer in the feeder's byte order. A reader that sees a value in
// [kProbeMin, kProbeMax] shares the feeder's byte order; anything else (or
// fewer than 4 bytes) means every numeric value must be byte-reversed.
constexpr std::size_t kProbeBytes = 4;
constexpr std::int32_t kProbeValue = 1;
constexpr std::int32_t kProbeMin = 1;
constexpr std::int32_t kProbeMax = 255;

// ---- Control messages, reader to feeder -----------------------------------
// Over a socket they travel on the data connection ("RWND" and "SEEK" as the
// first bytes of a new connection, "STOP" on the current one); over named
// pipes "RWND" and "SEEK" go through the rewind pipe and "STOP" is never sent.
constexpr std::size_t kControlWordBytes = 4;
constexpr char kRewind[] = "RWND";
constexpr char kSeek[] = "SEEK";
constexpr char kStop[] = "STOP";
// "SEEK" is followed by the case number, a signed 64-bit integer in the
// reader's byte order (never reversed).
constexpr std::size_t kSeekCaseBytes = 8;
constexpr std::size_t kSeekMessageBytes = kControlWordBytes + kSeekCaseBytes;

}  // namespace wire
}  // namespace drav

#endif  // DRAV_BASE_WIREFORMAT_H_
