// Reset and clock control (RCC), reference manual section "Reset and clock control": the HSI16
// oscillator and its divider, the system clock switch and the bus dividers (which set the core's
// clock), the peripheral clock enables and resets, kernel clock selection, the RTC domain control
// and the reset flags of this start.
#pragma once

#include <array>

#include "front.h"

namespace emu {

class Chip;

class RccFront final : public Front {
 public:
  explicit RccFront(Chip& chip);

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;

  uint32_t sysclkHz() const;
  uint32_t hclkHz() const;
  uint32_t pclkHz() const;
  uint32_t usart1KernelHz() const;
  // Whether the clock enable bit `bit` of the RCC_xxxENR register at `offset` is set.
  bool enabled(uint32_t offset, uint32_t bit) const { return (regs_[offset / 4] & bit) != 0; }

 private:
  uint32_t sourceHz(uint32_t sw) const;
  bool sourceReady(uint32_t sw) const;
  void resetPeripherals(uint32_t offset, uint32_t bits);

  Chip& chip_;
  std::array<uint32_t, 0x64 / 4> regs_{};
};

}  // namespace emu
