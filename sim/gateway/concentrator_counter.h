// The concentrator's free-running 32-bit microsecond counter (`tmst`): it starts at a random value
// when the gateway starts and wraps every 2^32 us (71.6 min), so every time on it is relative.
#pragma once

#include <cstdint>

namespace sim {

class ConcentratorCounter {
 public:
  // The counter reads `startTmst` at virtual time `startUs`.
  ConcentratorCounter(uint32_t startTmst, uint64_t startUs) : startTmst_(startTmst), startUs_(startUs) {}

  uint32_t at(uint64_t nowUs) const { return startTmst_ + static_cast<uint32_t>(nowUs - startUs_); }
  // How far from nowUs the counter shows `tmst`: the nearest such time, up to 2^31 us (35.8 min)
  // either way, as a forwarder reads a `tmst` it is asked to transmit at (the counter wraps).
  int64_t offsetUs(uint32_t tmst, uint64_t nowUs) const { return static_cast<int32_t>(tmst - at(nowUs)); }

 private:
  uint32_t startTmst_;
  uint64_t startUs_;
};

}  // namespace sim
