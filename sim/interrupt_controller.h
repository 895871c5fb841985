// The interrupt controller of the simulated core (NVIC and PRIMASK): pending and enabled lines and
// their priorities. On the simulated board it delivers them to the firmware's handlers by name, as
// the vector table would; on the emulated chip (emu/) the core takes them itself.
#pragma once

#include <array>
#include <cstdint>

#include "stm32g0xx_hal_cortex.h"

namespace sim {

class InterruptController {
 public:
  void pend(IRQn_Type irq) { pending_ |= bit(irq); }
  void clear(IRQn_Type irq) { pending_ &= ~bit(irq); }
  bool pending(IRQn_Type irq) const { return (pending_ & bit(irq)) != 0; }
  void enable(IRQn_Type irq, bool on) { enabled_ = on ? (enabled_ | bit(irq)) : (enabled_ & ~bit(irq)); }
  bool enabled(IRQn_Type irq) const { return (enabled_ & bit(irq)) != 0; }
  // Priority level 0 (highest) to 3 of an interrupt line or of SysTick.
  void setPriority(IRQn_Type irq, uint8_t level) { priority_[static_cast<size_t>(irq + kBias)] = level & 3u; }
  uint8_t priority(IRQn_Type irq) const { return priority_[static_cast<size_t>(irq + kBias)]; }
  void setPrimask(bool masked) { primask_ = masked; }
  bool primask() const { return primask_; }
  bool anyPending() const { return pending_ != 0; }
  // A pending interrupt that is enabled (masked or not): it ends a core sleep.
  bool anyReady() const { return ready() != 0; }
  // The ready interrupt an emulated core takes next: the highest priority, then the lowest number;
  // false when none is ready.
  bool nextReady(IRQn_Type& irq) const;
  // The core takes the interrupts itself (the emulated chip): deliver() leaves them pending.
  void setTakenByCore(bool on) { takenByCore_ = on; }
  // Runs the handler of every ready interrupt, lowest number first, unless interrupts are masked
  // or a handler is running (handlers do not nest). False when none was taken.
  bool deliver();

 private:
  static constexpr int kBias = 16;  // core exceptions have negative numbers
  static uint64_t bit(IRQn_Type irq) { return 1ull << (irq + kBias); }
  // NMI and SysTick are core exceptions: always enabled (SysTick once configured).
  uint64_t ready() const { return pending_ & (enabled_ | bit(SysTick_IRQn) | bit(NonMaskableInt_IRQn)); }

  uint64_t pending_ = 0;
  uint64_t enabled_ = 0;
  std::array<uint8_t, 48> priority_{};
  bool primask_ = false;
  bool takenByCore_ = false;
  int depth_ = 0;
};

}  // namespace sim
