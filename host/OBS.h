#pragma once
// The host's case buffer: room for one case of a given number of 8-byte
// slots, aligned for doubles. The host creates one per pass and binds it to
// the iterator; the iterator reads each record straight into it.
#include <cstddef>
#include <memory>

class OBS {
 public:
  explicit OBS(int slots);
  OBS(const OBS&) = delete;
  OBS& operator=(const OBS&) = delete;

  char* Data() { return reinterpret_cast<char*>(slots_.get()); }
  const char* Data() const { return reinterpret_cast<const char*>(slots_.get()); }
  int SlotCount() const { return slotCount_; }
  std::size_t Bytes() const { return static_cast<std::size_t>(slotCount_) * 8; }

 private:
  int slotCount_;
  std::unique_ptr<double[]> slots_;
};
