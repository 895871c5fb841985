// The interrupt controller of the simulated core (NVIC and PRIMASK): pending and enabled lines,
// and delivery to the firmware's handlers by name, as the vector table would.
#pragma once

#include <cstdint>

#include "stm32g0xx_hal_cortex.h"

namespace sim {

class InterruptController {
 public:
  void pend(IRQn_Type irq) { pending_ |= bit(irq); }
  void enable(IRQn_Type irq, bool on) { enabled_ = on ? (enabled_ | bit(irq)) : (enabled_ & ~bit(irq)); }
  bool enabled(IRQn_Type irq) const { return (enabled_ & bit(irq)) != 0; }
  void setPrimask(bool masked) { primask_ = masked; }
  bool primask() const { return primask_; }
  bool anyPending() const { return pending_ != 0; }
  // A pending interrupt that is enabled (masked or not): it ends a core sleep.
  bool anyReady() const { return ready() != 0; }
  // Runs the handler of every ready interrupt, lowest number first, unless interrupts are masked
  // or a handler is running (handlers do not nest). False when none was taken.
  bool deliver();

 private:
  static constexpr int kBias = 16;  // core exceptions have negative numbers
  static uint64_t bit(IRQn_Type irq) { return 1ull << (irq + kBias); }
  // SysTick is a core exception: always enabled once configured.
  uint64_t ready() const { return pending_ & (enabled_ | bit(SysTick_IRQn)); }

  uint64_t pending_ = 0;
  uint64_t enabled_ = 0;
  bool primask_ = false;
  int depth_ = 0;
};

}  // namespace sim
