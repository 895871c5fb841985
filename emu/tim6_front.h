// Basic timer TIM6, reference manual section "Basic timers": counter enable, update interrupt,
// update generation, the counter, prescaler and auto-reload registers and the update flag (cleared
// by writing 0), over the board's TIM6 model, which counts the peripheral clock in virtual time.
#pragma once

#include "front.h"

namespace emu {

class Chip;

class Tim6Front final : public Front {
 public:
  explicit Tim6Front(Chip& chip);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void reset() override;

 private:
  Chip& chip_;
  uint32_t cr1_ = 0, cr2_ = 0, dier_ = 0, psc_ = 0, arr_ = 0xFFFF;
};

}  // namespace emu
