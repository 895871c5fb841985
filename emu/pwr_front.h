// Power control (PWR), reference manual section "Power control": the low-power mode a deep sleep
// enters (LPMS), write access to the RTC domain (DBP), the regulator's range and low-power run, the
// wake-up and standby flags of this start, and the pull-ups and pull-downs that hold pins in standby
// when APC is set.
#pragma once

#include <array>

#include "front.h"

namespace emu {

class Chip;

class PwrFront final : public Front {
 public:
  enum class StandbyPin { floating, low, high };

  explicit PwrFront(Chip& chip);

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void reset() override;

  // A deep sleep now enters standby (LPMS = 011).
  bool standbySelected() const;
  // What holds pin `pin` of port `port` (0 = A .. 5 = F) in standby.
  StandbyPin standbyPin(int port, int pin) const;

 private:
  Chip& chip_;
  std::array<uint32_t, 0x50 / 4> regs_{};
};

}  // namespace emu
