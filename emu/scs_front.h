// The Cortex-M0+'s system control space (the ARMv6-M architecture's SysTick, NVIC and SCB): the
// system tick timer (enable, interrupt, reload, current value) over the board's SysTick model, the
// interrupt controller's enables, pending states and priorities over the board's interrupt
// controller, and the system control block (CPUID, ICSR, VTOR, the reset request in AIRCR, SCR's
// SLEEPDEEP, the system handlers' priorities).
#pragma once

#include <cstdint>

#include "front.h"

namespace emu {

class Chip;

class ScsFront final : public Front {
 public:
  explicit ScsFront(Chip& chip);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;

  // SCB_SCR.SLEEPDEEP: a WFI enters the low-power mode PWR_CR1 selects.
  bool sleepDeep() const;
  // The core's clock changed: the tick's period with it.
  void clockChanged();

 private:
  void writeSysTickControl(uint32_t value);
  void restartTick();
  uint32_t tickClockHz() const;
  uint32_t pendingMask() const;

  Chip& chip_;
  uint32_t systCsr_ = 0, systRvr_ = 0;
  uint32_t scr_ = 0, shpr2_ = 0, shpr3_ = 0;
};

}  // namespace emu
