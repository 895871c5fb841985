// General-purpose I/O port (GPIOA..GPIOD, GPIOF), reference manual section "General-purpose I/Os":
// mode, output type, speed, pull, alternate function, and the pins' levels through IDR, ODR, BSRR
// and BRR, over the board's pin model (what the chip drives, what the devices drive, the pulls).
#pragma once

#include <array>

#include "front.h"

namespace emu {

class Chip;

class GpioFront final : public Front {
 public:
  // `port`: 0 = A .. 5 = F (the package has no port E).
  GpioFront(Chip& chip, int port);

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t peek(uint32_t offset) override;
  void reset() override;

 private:
  void setOutput(uint32_t odr);
  void applyPin(int pin);

  Chip& chip_;
  int port_;
  std::array<uint32_t, 11> regs_{};
};

}  // namespace emu
